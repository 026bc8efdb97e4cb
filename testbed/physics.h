#pragma once
// The game's physics applying a collision through one of its three routines,
// as its own code does: the routine computes the impulses (the test chooses
// them) and reports whether it applied the collision.
#include <cstdint>

#include "host/records.h"

namespace testbed {

// Named after the host routines they call (host/addresses.h).
enum class CollisionPath {
    TwoBody,   // kTwoBodyContact: between two moving bodies
    Static,    // kStaticContact: one body, the helicopter rotor-blade strike
    Alternate, // kAlternateContact: buildings, walls, lamp posts, all that does not move
};

struct Collision {
    // Unless a test says otherwise, a car hitting a wall or a lamp post, not a
    // rotor blade.
    CollisionPath path = CollisionPath::Alternate;
    host::Vehicle* body = nullptr;  // the object the routine is called on
    host::Vehicle* other = nullptr; // the second body (two-body path)
    host::V3 point{0, 0, 0};        // world space
    host::V3 normal{0, 0, 1};       // world space
    float impulse = 0.0f;           // on the object
    float otherImpulse = 0.0f;      // on the other body
    std::uint8_t piece = 0;         // piece byte of the first body (+0x21)
    std::uint8_t otherPiece = 0;    // piece byte of the second body (+0x23)
    std::uint8_t result = 1;        // the routine's result byte
};

// Calls the routine at its host address (hooked or not) and returns its result.
std::uint8_t applyCollision(const Collision& collision);

// A world point at a vehicle-local offset (vehicles stand unrotated unless a
// test turns them).
host::V3 worldPoint(const host::Vehicle* vehicle, host::V3 local);

} // namespace testbed
