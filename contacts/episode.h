#pragma once
// One sustained or repeated impact at one spot of a vehicle: contacts that
// arrive close together in time, place and direction deepen one dent.
#include <cstdint>

#include "contacts/response.h"
#include "mesh/vec.h"

namespace dent {

struct Episode {
    Vec point;                  // vehicle-local point of the opening contact
    Vec normal;                 // its unit normal
    float depth = 0.0f;         // largest depth observed in the episode
    float radius = 0.0f;        // largest radius observed in the episode
    std::uint32_t count = 0;    // episodes opened so far; the current one's number
    std::uint32_t lastTime = 0; // clock (ms) of the last valid observation
    bool open = false;

    // Feeds one contact; true when the dent grew. Ignored (false, nothing
    // changed) when point or normal is not finite, the normal is shorter than
    // 0.001, or the response's depth or radius is not finite or not above 0.
    // The contact continues the open episode when now - lastTime (unsigned,
    // wrapping) is at most gapMs, it lies at most 0.85 from the opening point
    // and its unit normal has a dot product of at least 0.65 with the opening
    // normal; otherwise it opens the next episode. Growth means a depth or
    // radius more than 0.00001 above the episode's previous maximum.
    bool observe(Vec point, Vec normal, Response response, unsigned now, unsigned gapMs);
};

} // namespace dent
