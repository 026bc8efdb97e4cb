#pragma once
// The game's own sequences around a session, in the order its main loop runs
// them: Start New Game and Load Game while playing, and the two ways to quit.
namespace testbed {

// CGame::ShutDown (which deletes the world's vehicles, then shuts the pools
// down from inside), then CGame::Initialise with new pools: frames go on after.
void startNewGame();
// ShutDownForRestart (the world's vehicles deleted inside, the pools kept), and
// the game goes on.
void loadGame();
// Quitting while playing: CGame::ShutDown (the vehicles deleted, then the
// pools), then the RenderWare shutdown. No frame follows.
void quitGame();
// Quitting from the start menu before any game was played: only the
// RenderWare shutdown runs.
void quitFromMenu();

} // namespace testbed
