#pragma once
// Typed wrappers of the host's routines and data. Each routine is reached only
// through its fixed address; the comment gives its convention and address.
#include <cstdint>

#include "host/addresses.h"
#include "host/compiler.h"
#include "host/records.h"

namespace game {

using AtomicCallback = host::Atomic*(FX_CDECL*)(host::Atomic* atomic, void* data);

namespace detail {
template <typename Fn> inline Fn at(std::uintptr_t address) {
    return reinterpret_cast<Fn>(address);
}
} // namespace detail

// cdecl, 0x640D00: calls callback(atomic, data) once per atomic of the clump.
inline void* atomics(void* clump, AtomicCallback callback, void* data) {
    using Fn = void*(FX_CDECL*)(void*, AtomicCallback, void*);
    return detail::at<Fn>(host::addr::kForAllAtomics)(clump, callback, data);
}

// cdecl, 0x4BFFC0: live vehicle for a pool handle, or null.
inline host::Vehicle* vehicleByRef(std::int32_t handle) {
    using Fn = host::Vehicle*(FX_CDECL*)(std::int32_t);
    return detail::at<Fn>(host::addr::kVehicleByRef)(handle);
}

// cdecl, 0x4BFFE0: pool handle of a vehicle.
inline std::int32_t vehicleRef(host::Vehicle* vehicle) {
    using Fn = std::int32_t(FX_CDECL*)(host::Vehicle*);
    return detail::at<Fn>(host::addr::kVehicleRef)(vehicle);
}

// cdecl, 0x4BC1E0: the player's vehicle, or null.
inline host::Vehicle* playerVehicle() {
    using Fn = host::Vehicle*(FX_CDECL*)();
    return detail::at<Fn>(host::addr::kPlayerVehicle)();
}

// cdecl, 0x4BC120: the player's character, or null (an entity with a placement matrix).
inline host::Vehicle* playerPed() {
    using Fn = host::Vehicle*(FX_CDECL*)();
    return detail::at<Fn>(host::addr::kPlayerPed)();
}

// cdecl, 0x64CDB0: new geometry with arrays as the format asks, or null.
inline host::Geometry* createGeometry(std::int32_t vertices, std::int32_t triangles,
                                      std::uint32_t format) {
    using Fn = host::Geometry*(FX_CDECL*)(std::int32_t, std::int32_t, std::uint32_t);
    return detail::at<Fn>(host::addr::kCreateGeometry)(vertices, triangles, format);
}

// cdecl, 0x64CFE0: drops one reference; frees the geometry at zero.
inline std::int32_t destroyGeometry(host::Geometry* geometry) {
    using Fn = std::int32_t(FX_CDECL*)(host::Geometry*);
    return detail::at<Fn>(host::addr::kDestroyGeometry)(geometry);
}

// cdecl, 0x640ED0: the atomic renders the geometry from now on.
inline host::Atomic* setGeometry(host::Atomic* atomic, host::Geometry* geometry,
                                 std::uint32_t flags) {
    using Fn = host::Atomic*(FX_CDECL*)(host::Atomic*, host::Geometry*, std::uint32_t);
    return detail::at<Fn>(host::addr::kSetGeometry)(atomic, geometry, flags);
}

// cdecl, 0x64CCD0: non-null on success.
inline host::Geometry* lock(host::Geometry* geometry, std::int32_t flags) {
    using Fn = host::Geometry*(FX_CDECL*)(host::Geometry*, std::int32_t);
    return detail::at<Fn>(host::addr::kLockGeometry)(geometry, flags);
}

// cdecl, 0x64CD00: rebuilds what the engine derives from the arrays; non-null on success.
inline host::Geometry* unlock(host::Geometry* geometry) {
    using Fn = host::Geometry*(FX_CDECL*)(host::Geometry*);
    return detail::at<Fn>(host::addr::kUnlockGeometry)(geometry);
}

// cdecl, 0x644D80: the frame's world matrix, or null.
inline host::Matrix* frameLTM(host::Frame* frame) {
    using Fn = host::Matrix*(FX_CDECL*)(host::Frame*);
    return detail::at<Fn>(host::addr::kFrameLTM)(frame);
}

// cdecl, 0x580600: the frame's name, or null.
inline const char* frameName(host::Frame* frame) {
    using Fn = const char*(FX_CDECL*)(host::Frame*);
    return detail::at<Fn>(host::addr::kFrameName)(frame);
}

// cdecl, 0x649960: non-null when the geometry is skinned.
inline void* geometrySkin(host::Geometry* geometry) {
    using Fn = void*(FX_CDECL*)(host::Geometry*);
    return detail::at<Fn>(host::addr::kGeometrySkin)(geometry);
}

// cdecl, 0x64CC00: sets a triangle's three vertex indices; non-null on success.
inline host::Geometry* triangleVertices(host::Geometry* geometry, host::Triangle* triangle,
                                        std::uint16_t v0, std::uint16_t v1, std::uint16_t v2) {
    using Fn = host::Geometry*(FX_CDECL*)(host::Geometry*, host::Triangle*, std::uint16_t,
                                          std::uint16_t, std::uint16_t);
    return detail::at<Fn>(host::addr::kTriangleVertices)(geometry, triangle, v0, v1, v2);
}

// cdecl, 0x64CC30: assigns a material, entering it in the geometry's own table;
// non-null on success.
inline host::Geometry* triangleMaterial(host::Geometry* geometry, host::Triangle* triangle,
                                        void* material) {
    using Fn = host::Geometry*(FX_CDECL*)(host::Geometry*, host::Triangle*, void*);
    return detail::at<Fn>(host::addr::kTriangleMaterial)(geometry, triangle, material);
}

// member (object in ECX, callee pops), 0x5A9810: status of door 0..5.
inline std::uint8_t getDoorStatus(host::DamageState* damage, std::int32_t door) {
    using Fn = std::uint8_t(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX, std::int32_t);
    return detail::at<Fn>(host::addr::kGetDoorStatus)(damage, nullptr, door);
}

// member (object in ECX, callee pops), 0x5A9820: sets the status of door 0..5.
inline void setDoorStatus(host::DamageState* damage, std::int32_t door, std::uint32_t status) {
    using Fn = void(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX, std::int32_t, std::uint32_t);
    detail::at<Fn>(host::addr::kSetDoorStatus)(damage, nullptr, door, status);
}

// member (object in ECX, callee pops), 0x5A9870: 0 when the light is intact.
inline std::uint8_t getLightStatus(host::DamageState* damage, std::int32_t light) {
    using Fn = std::uint8_t(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX, std::int32_t);
    return detail::at<Fn>(host::addr::kGetLightStatus)(damage, nullptr, light);
}

// Host data.
inline host::VehiclePool* vehiclePool() {
    return *reinterpret_cast<host::VehiclePool* volatile*>(host::addr::kVehiclePool);
}
inline void* rwEngineInstance() {
    return *reinterpret_cast<void* volatile*>(host::addr::kRwEngineInstance);
}
inline constexpr std::uint8_t kSuspendBit = 0x01;
inline bool updateSuspended() {
    const auto a = *reinterpret_cast<volatile std::uint8_t*>(host::addr::kUpdateSuspendA);
    const auto b = *reinterpret_cast<volatile std::uint8_t*>(host::addr::kUpdateSuspendB);
    return ((a | b) & kSuspendBit) != 0;
}
inline std::uint32_t clockMs() {
    return *reinterpret_cast<volatile std::uint32_t*>(host::addr::kGameClockMs);
}
inline host::VehicleModelInfo** modelInfos() {
    return *reinterpret_cast<host::VehicleModelInfo** volatile*>(host::addr::kModelInfoArray);
}

// Byte offset of the morph-target pointer in a geometry record; 0 until the
// layout probe has validated one.
extern std::uint32_t morphOffset;

} // namespace game
