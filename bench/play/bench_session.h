#pragma once
// One game of the bench on the real plug-in: cars by name, the game played
// event by event and frame by frame, and what each car went through. The
// bench plays a scenario file with it; the soak plays a random game.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/mesh.h"
#include "bench/play/file_stems.h"
#include "bench/scenario.h"
#include "bench/summary.h"
#include "host/records.h"
#include "plugin/settings.h"
#include "testbed/testbed.h"

namespace bench {

struct Pictures {
    std::string label; // "after" for a car's last ones
    CarMeshes meshes;
};

// A car while the game holds it, and what it went through.
struct Car {
    std::string name;
    std::string fileStem; // the name, numbered when a later car took the same name
    CarModel model = CarModel::Saloon;
    host::Vehicle* vehicle = nullptr;
    std::vector<host::Geometry*> originals; // each atomic's geometry when it was placed
    CarMeshes before;
    std::vector<Pictures> pictures;
    CarSummary summary;
};

// The game's three ways of letting every car go.
enum class Ending { NewGame, LoadGame, Quit };

class BenchSession {
  public:
    // Writes the INI into the game folder, loads the plug-in and reads back
    // what it read. False, with the reason on standard error, on failure.
    bool start(const std::string& iniText);

    // What happens between two frames (a hit waits for the next frame).
    void act(const Event& event);
    // One game frame with its collisions; its time outside the game's own step.
    FrameTime runFrame(int frame);
    // The game quits, unless it already did.
    void quitIfRunning();

    bool quit() const { return quit_; }
    const fendrix::Settings& settings() const { return settings_; }
    testbed::Testbed& testbed() { return testbed_; }
    const std::map<std::string, Car>& liveCars() const { return live_; }
    // Cars the game let go, in that order, with their last pictures.
    const std::vector<Car>& finishedCars() const { return finished_; }
    const Car* carNamed(const std::string& name) const;

    // Set: a picture event calls it instead of keeping the meshes, and a car
    // the game lets go keeps only its figures (the soak, which plays for hours).
    std::function<void(const std::string& label)> onPicture;
    // Called right after the game let every car go.
    std::function<void(Ending)> afterEnding;

  private:
    bool hitNow(const Hit& hit);
    void place(const std::string& name, CarModel model, V3 position, float heading);
    void finish(Car& car);
    void end(Ending ending);
    Car* liveCar(const std::string& name);

    testbed::Testbed testbed_;
    fendrix::Settings settings_;
    std::map<std::string, Car> live_;
    FileStems fileStems_;
    std::vector<Car> finished_;
    std::vector<Hit> pushes_;    // hits still repeating, with the frames they have left
    std::vector<Hit> frameHits_; // this frame's collisions
    bool quit_ = false;
    bool resetHeld_ = false;
};

} // namespace bench
