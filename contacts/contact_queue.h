#pragma once
// The per-frame queue of collision contacts: at most one contact per vehicle
// (the strongest), at most Capacity vehicles, no allocation.
#include <cmath>
#include <cstdint>

#include "mesh/vec.h"

namespace dent {

// One collision on one vehicle, in the vehicle's own frame. The triple
// vehicle, handle, renderObject identifies the vehicle instance.
struct Contact {
    void* vehicle = nullptr;
    std::int32_t handle = 0;
    void* renderObject = nullptr;
    Vec point;  // vehicle-local contact point
    Vec normal; // unit vehicle-local normal, oriented into the body
    float impulse = 0.0f;
    std::uint32_t piece = 0;
};

template <unsigned Capacity> struct ContactQueue {
    Contact entries[Capacity]; // in order of first arrival per vehicle
    std::uint32_t count = 0;   // used entries
    std::uint32_t dropped = 0; // contacts refused because the queue was full

    // Stores or merges a contact. Refused (false, nothing counted) when the
    // vehicle or render object is null, point or normal is not finite, the
    // impulse is not finite or not above 0, or the normal is shorter than 0.01.
    // An entry for the same vehicle pointer is replaced by a stronger contact of
    // the same instance (same handle and render object; the earlier one wins a
    // tie) and always by a contact of another instance; both count as stored.
    // A new vehicle on a full queue is refused and counted in dropped.
    bool add(Contact contact) {
        if (contact.vehicle == nullptr || contact.renderObject == nullptr ||
            !isFinite(contact.point) || !isFinite(contact.normal) ||
            !std::isfinite(contact.impulse) || !(contact.impulse > 0.0f) ||
            length(contact.normal) < 0.01f) {
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            Contact& entry = entries[i];
            if (entry.vehicle != contact.vehicle) {
                continue;
            }
            const bool sameInstance =
                entry.handle == contact.handle && entry.renderObject == contact.renderObject;
            if (!sameInstance || contact.impulse > entry.impulse) {
                entry = contact;
            }
            return true;
        }
        if (count == Capacity) {
            ++dropped;
            return false;
        }
        entries[count] = contact;
        ++count;
        return true;
    }

    void clear() {
        count = 0;
        dropped = 0;
    }

    // The first entry of exactly this vehicle instance, or null.
    const Contact* find(const void* vehicle, std::int32_t handle, const void* renderObject) const {
        for (std::uint32_t i = 0; i < count; ++i) {
            const Contact& entry = entries[i];
            if (entry.vehicle == vehicle && entry.handle == handle &&
                entry.renderObject == renderObject) {
                return &entry;
            }
        }
        return nullptr;
    }
};

} // namespace dent
