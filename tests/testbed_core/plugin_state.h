#pragma once
// The plug-in's process-wide state put back to start-up values around each
// test, vehicles the test spawns removed before the ledger is checked, the game
// clock under the test's control, and copies attached as the pipeline does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "contacts/contact_capture.h"
#include "contacts/lifecycle.h"
#include "contacts/tracking_table.h"
#include "core_fixture.h"
#include "damage/retention_table.h"
#include "host/game.h"
#include "mesh/clone_geometry.h"
#include "mesh/geometry_guard.h"
#include "mesh/mesh_record.h"
#include "plugin/settings.h"
#include "testbed/car_model.h"
#include "testbed/vehicles.h"

namespace core_test {

using Lines = std::vector<std::string>;

class PluginTest : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        fendrix::settings = fendrix::Settings{};
        fendrix::contactQueue.clear();
        fendrix::createTrackingTable();
        fendrix::trackingTable->records.clear();
        fendrix::trackingTable->resetKeyDown = 0;
        fendrix::captureArmed = false;
        fendrix::shutdownInProgress = false;
        fendrix::newGamePending = false;
        // Counts only this test's refusals, whatever ran before it in the process.
        fendrix::geometryGuardRejections = 0;
        fendrix::retentionTable.clear();
        testbed::setPoolPresent(true);
        testbed::world().playerVehicle = nullptr;
        setClock(kStartMs);
    }

    void TearDown() override {
        testbed::setPoolPresent(true);
        // Vehicles first: their atomics give back what they render, so the
        // records that outlive them release the last references.
        for (host::Vehicle* vehicle : vehicles_) {
            testbed::removeVehicle(vehicle);
        }
        vehicles_.clear();
        if (fendrix::trackingTable != nullptr) {
            fendrix::trackingTable->records.clear();
        }
        fendrix::contactQueue.clear();
        fendrix::retentionTable.clear();
        fendrix::captureArmed = false;
        fendrix::shutdownInProgress = false;
        fendrix::newGamePending = false;
        fendrix::settings = fendrix::Settings{};
        CoreTest::TearDown();
    }

    static constexpr std::uint32_t kStartMs = 100000;

    static void setClock(std::uint32_t ms) {
        testbed::world().clockMs = ms;
        testbed::publishClock();
    }

    // A car with named meshes and real geometries, removed when the test ends.
    host::Vehicle* car(host::V3 position = {0, 0, 0}, std::int16_t model = kCarModel) {
        return keep(testbed::spawnCar(position, model));
    }
    // A vehicle without meshes.
    host::Vehicle* bare(host::V3 position = {0, 0, 0}, std::int16_t model = kCarModel) {
        testbed::VehicleDesign design;
        design.position = position;
        design.model = model;
        return keep(testbed::spawnVehicle(design));
    }
    host::Vehicle* keep(host::Vehicle* vehicle) {
        EXPECT_NE(vehicle, nullptr) << "the pool has room";
        if (vehicle != nullptr) {
            vehicles_.push_back(vehicle);
        }
        return vehicle;
    }
    // Removes a vehicle now (its slot becomes free for the next spawn).
    void remove(host::Vehicle* vehicle) {
        testbed::removeVehicle(vehicle);
        vehicles_.erase(std::find(vehicles_.begin(), vehicles_.end(), vehicle));
    }

    // What the pipeline does on a mesh's first dent: the record takes a copy
    // and a counted reference on the original, and the atomic shows the copy.
    static fendrix::MeshRecord* giveCopy(fendrix::TrackedVehicle& record, host::Atomic* atomic) {
        host::Geometry* original = atomic->geometry;
        host::Geometry* clone = fendrix::cloneGeometry(original);
        EXPECT_NE(clone, nullptr) << "the car's meshes can be copied";
        if (clone == nullptr) {
            return nullptr;
        }
        auto* mesh = new fendrix::MeshRecord;
        mesh->clone = clone;
        mesh->original = original;
        ++original->refCount;
        game::setGeometry(atomic, clone, 0);
        record.meshes.emplace_back(mesh);
        record.clonedVertices += static_cast<std::uint32_t>(clone->vertexCount);
        return mesh;
    }

    // The geometries a vehicle's atomics show, in traversal order.
    static std::vector<host::Geometry*> shown(const host::Vehicle* vehicle) {
        std::vector<host::Geometry*> result;
        for (host::Atomic* atomic : testbed::atomicsOf(vehicle)) {
            result.push_back(atomic->geometry);
        }
        return result;
    }

    static std::vector<host::Vehicle*> trackedVehicles() {
        std::vector<host::Vehicle*> result;
        for (const auto& record : fendrix::trackingTable->records) {
            result.push_back(record->vehicle);
        }
        return result;
    }

    static constexpr std::int16_t kCarModel = 150;

  private:
    std::vector<host::Vehicle*> vehicles_;
};

} // namespace core_test
