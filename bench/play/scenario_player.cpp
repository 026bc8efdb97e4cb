#include "bench/play/scenario_player.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/ini_merge.h"
#include "bench/obj_writer.h"
#include "bench/picture.h"
#include "bench/play/bench_session.h"
#include "bench/png.h"
#include "bench/summary.h"
#include "testbed/testbed.h"

namespace bench {

namespace fs = std::filesystem;

namespace {

constexpr int kPictureWidth = 480; // of each half
constexpr int kPictureHeight = 360;
constexpr View kViews[] = {View::Top, View::Right, View::FrontRightThreeQuarter,
                           View::RearLeftThreeQuarter};

std::string readWhole(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeWhole(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// Everything the scenario left: the log, each car's meshes and pictures, the
// summary. The paths written are printed; false when one could not be.
bool writeOutputs(BenchSession& session, const std::vector<FrameTime>& times,
                  const std::string& outDir) {
    std::error_code error;
    const fs::path out = fs::absolute(outDir, error);
    fs::create_directories(out, error);
    bool ok = !error;
    std::vector<std::string> written;
    const auto keep = [&](const fs::path& path, bool wrote) {
        if (wrote) {
            written.push_back(path.string());
        } else {
            std::fprintf(stderr, "bench: cannot write %s\n", path.string().c_str());
            ok = false;
        }
    };

    const std::string logText = session.testbed().readFile("FendrixVC.log");
    keep(out / "FendrixVC.log", writeWhole(out / "FendrixVC.log", logText));

    std::vector<CarSummary> summaries;
    const float fullScale = session.settings().MaxTotalDisplacement;
    for (const Car& car : session.finishedCars()) {
        summaries.push_back(car.summary);
        keep(out / (car.fileStem + "_before.obj"),
             writeWhole(out / (car.fileStem + "_before.obj"), objText(car.before)));
        for (const Pictures& p : car.pictures) {
            const std::string stem = car.fileStem + "_" + p.label;
            keep(out / (stem + ".obj"), writeWhole(out / (stem + ".obj"), objText(p.meshes)));
            for (View view : kViews) {
                const fs::path png = out / (stem + "_" + viewName(view) + ".png");
                const RgbImage image = renderBeforeAfter(car.before, p.meshes, view, kPictureWidth,
                                                         kPictureHeight, fullScale);
                keep(png, writePng(png.string(), image));
            }
        }
    }
    keep(out / "summary.csv", writeWhole(out / "summary.csv", summaryCsv(summaries, times)));

    std::printf("== FendrixVC.log\n%s", logText.c_str());
    std::printf("== %zu cars, %zu frames; written to %s:\n", session.finishedCars().size(),
                times.size(), out.string().c_str());
    for (const std::string& path : written) {
        std::printf("%s\n", path.c_str());
    }
    return ok;
}

} // namespace

int playScenario(const Scenario& scenario, const PlayOptions& options) {
    bool ok = false;
    const std::string iniPath =
        options.iniPath.empty() ? testbed::programDir() + "FendrixVC.ini" : options.iniPath;
    const std::string ini = readWhole(iniPath, &ok);
    if (!ok) {
        std::fprintf(stderr, "bench: cannot read the INI %s\n", iniPath.c_str());
        return 1;
    }
    BenchSession session;
    if (!session.start(mergeSettings(ini, scenario.settings))) {
        return 1;
    }
    std::vector<FrameTime> times;
    std::size_t next = 0;
    const std::vector<Event>& events = scenario.events;
    for (int frame = 0; frame <= scenario.frames && !session.quit(); ++frame) {
        // What happens after frame `frame`, then frame `frame + 1` itself.
        while (next < events.size() && events[next].frame <= frame && !session.quit()) {
            session.act(events[next++]);
        }
        if (frame < scenario.frames && !session.quit()) {
            times.push_back(session.runFrame(frame + 1));
        }
    }
    session.quitIfRunning(); // every scenario ends with the game shut down
    return writeOutputs(session, times, options.outDir) ? 0 : 1;
}

} // namespace bench
