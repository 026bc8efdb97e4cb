#pragma once
// Host records as the game lays them out. Only named fields are relied on;
// fields nobody reads are named by their offset. Each record is checked field
// by field and in size below, so a slip in a padding array cannot go unnoticed.
#include <cstddef>
#include <cstdint>

namespace host {

#pragma pack(push, 1)

struct V3 {
    float x, y, z;
};
static_assert(sizeof(V3) == 12);

// RenderWare matrix: three axes and a position, rows 16 bytes apart.
struct Matrix {
    V3 right;            // +0x00 first axis
    std::uint32_t flags; // +0x0C
    V3 up;               // +0x10 second axis
    std::uint32_t pad1C; // +0x1C
    V3 at;               // +0x20 third axis
    std::uint32_t pad2C; // +0x2C
    V3 pos;              // +0x30 position
    std::uint32_t pad3C; // +0x3C
};
static_assert(offsetof(Matrix, right) == 0x00);
static_assert(offsetof(Matrix, flags) == 0x0C);
static_assert(offsetof(Matrix, up) == 0x10);
static_assert(offsetof(Matrix, pad1C) == 0x1C);
static_assert(offsetof(Matrix, at) == 0x20);
static_assert(offsetof(Matrix, pad2C) == 0x2C);
static_assert(offsetof(Matrix, pos) == 0x30);
static_assert(offsetof(Matrix, pad3C) == 0x3C);
static_assert(sizeof(Matrix) == 0x40);

// A vehicle's damage state, embedded in the vehicle entity.
struct DamageState {
    std::uint8_t field_00[9];   // +0x00
    std::uint8_t doorStatus[6]; // +0x09 host-internal: reached through get/setDoorStatus
    std::uint8_t field_0F;      // +0x0F
    std::uint32_t lightStatus;  // +0x10 two bits per light
    std::uint32_t panelStatus;  // +0x14 four bits per component
    std::uint32_t field_18;     // +0x18
};
static_assert(offsetof(DamageState, field_00) == 0x00);
static_assert(offsetof(DamageState, doorStatus) == 0x09);
static_assert(offsetof(DamageState, field_0F) == 0x0F);
static_assert(offsetof(DamageState, lightStatus) == 0x10);
static_assert(offsetof(DamageState, panelStatus) == 0x14);
static_assert(offsetof(DamageState, field_18) == 0x18);
static_assert(sizeof(DamageState) == 0x1C);

// Vehicle entity (the fields this plug-in reads).
struct Vehicle {
    std::uint32_t field_00;       // +0x00
    Matrix placement;             // +0x04
    std::uint8_t field_44[8];     // +0x44
    void* rwObject;               // +0x4C root of the vehicle's atomics (a clump)
    std::uint8_t typeBits;        // +0x50 entity type in the low three bits
    std::uint8_t field_51[2];     // +0x51
    std::uint8_t flags53;         // +0x53 bit 0x08: not processed
    std::uint8_t field_54[8];     // +0x54
    std::int16_t modelIndex;      // +0x5C
    std::uint8_t field_5E[0x12];  // +0x5E
    V3 velocity;                  // +0x70
    std::uint8_t field_7C[0x3C];  // +0x7C
    float mass;                   // +0xB8
    std::uint8_t field_BC[0x4C];  // +0xBC
    void* linkedEntity;           // +0x108
    std::uint8_t field_10C[0xF8]; // +0x10C
    float health;                 // +0x204
    std::uint8_t field_208[0x94]; // +0x208
    std::int32_t vehicleClass;    // +0x29C
    DamageState damage;           // +0x2A0
    std::uint32_t field_2BC;      // +0x2BC
};
static_assert(offsetof(Vehicle, field_00) == 0x00);
static_assert(offsetof(Vehicle, placement) == 0x04);
static_assert(offsetof(Vehicle, field_44) == 0x44);
static_assert(offsetof(Vehicle, rwObject) == 0x4C);
static_assert(offsetof(Vehicle, typeBits) == 0x50);
static_assert(offsetof(Vehicle, field_51) == 0x51);
static_assert(offsetof(Vehicle, flags53) == 0x53);
static_assert(offsetof(Vehicle, field_54) == 0x54);
static_assert(offsetof(Vehicle, modelIndex) == 0x5C);
static_assert(offsetof(Vehicle, field_5E) == 0x5E);
static_assert(offsetof(Vehicle, velocity) == 0x70);
static_assert(offsetof(Vehicle, field_7C) == 0x7C);
static_assert(offsetof(Vehicle, mass) == 0xB8);
static_assert(offsetof(Vehicle, field_BC) == 0xBC);
static_assert(offsetof(Vehicle, linkedEntity) == 0x108);
static_assert(offsetof(Vehicle, field_10C) == 0x10C);
static_assert(offsetof(Vehicle, health) == 0x204);
static_assert(offsetof(Vehicle, field_208) == 0x208);
static_assert(offsetof(Vehicle, vehicleClass) == 0x29C);
static_assert(offsetof(Vehicle, damage) == 0x2A0);
static_assert(offsetof(Vehicle, damage) + offsetof(DamageState, lightStatus) == 0x2B0);
static_assert(offsetof(Vehicle, field_2BC) == 0x2BC);
static_assert(sizeof(Vehicle) == 0x2C0);

// A character entity shares the placement matrix layout.
inline constexpr std::size_t kEntityPositionOffset = 0x34;
static_assert(offsetof(Vehicle, placement) + offsetof(Matrix, pos) == kEntityPositionOffset);

// The host's object pool behind the pointer at the vehicle-pool address.
struct VehiclePool {
    void* objects;         // +0x00
    std::uint8_t* flags;   // +0x04 one byte per slot; bit 7 marks a free slot
    std::int32_t size;     // +0x08 slot count
    std::int32_t field_0C; // +0x0C
};
static_assert(offsetof(VehiclePool, objects) == 0x00);
static_assert(offsetof(VehiclePool, flags) == 0x04);
static_assert(offsetof(VehiclePool, size) == 0x08);
static_assert(offsetof(VehiclePool, field_0C) == 0x0C);
static_assert(sizeof(VehiclePool) == 0x10);

// The 40-byte collision point the collision routines receive by reference.
struct ColPoint {
    V3 point;               // +0x00 world space
    std::uint32_t field_0C; // +0x0C
    V3 normal;              // +0x10 world space
    std::uint32_t field_1C; // +0x1C
    std::uint8_t field_20;  // +0x20
    std::uint8_t pieceA;    // +0x21 piece of the first body
    std::uint8_t field_22;  // +0x22
    std::uint8_t pieceB;    // +0x23 piece of the second body
    float field_24;         // +0x24
};
static_assert(offsetof(ColPoint, point) == 0x00);
static_assert(offsetof(ColPoint, field_0C) == 0x0C);
static_assert(offsetof(ColPoint, normal) == 0x10);
static_assert(offsetof(ColPoint, field_1C) == 0x1C);
static_assert(offsetof(ColPoint, field_20) == 0x20);
static_assert(offsetof(ColPoint, pieceA) == 0x21);
static_assert(offsetof(ColPoint, field_22) == 0x22);
static_assert(offsetof(ColPoint, pieceB) == 0x23);
static_assert(offsetof(ColPoint, field_24) == 0x24);
static_assert(sizeof(ColPoint) == 40);

// RenderWare frame.
struct Frame {
    std::uint8_t field_00[4];    // +0x00
    Frame* parent;               // +0x04 null at the root
    std::uint8_t field_08[8];    // +0x08
    Matrix modelling;            // +0x10
    Matrix ltm;                  // +0x50 world matrix
    std::uint8_t field_90[0x18]; // +0x90
};
static_assert(offsetof(Frame, field_00) == 0x00);
static_assert(offsetof(Frame, parent) == 0x04);
static_assert(offsetof(Frame, field_08) == 0x08);
static_assert(offsetof(Frame, modelling) == 0x10);
static_assert(offsetof(Frame, ltm) == 0x50);
static_assert(offsetof(Frame, field_90) == 0x90);
static_assert(sizeof(Frame) == 0xA8);

// RenderWare clump: the vehicle's RenderWare object.
struct Clump {
    std::uint8_t field_00[4];    // +0x00
    Frame* frame;                // +0x04 parent frame
    std::uint8_t field_08[0x24]; // +0x08
};
static_assert(offsetof(Clump, field_00) == 0x00);
static_assert(offsetof(Clump, frame) == 0x04);
static_assert(offsetof(Clump, field_08) == 0x08);
static_assert(sizeof(Clump) == 0x2C);

struct Sphere {
    V3 centre;
    float radius;
};
static_assert(offsetof(Sphere, centre) == 0x00);
static_assert(offsetof(Sphere, radius) == 0x0C);
static_assert(sizeof(Sphere) == 16);

struct Geometry;

// RenderWare atomic: one mesh of a vehicle.
struct Atomic {
    std::uint8_t field_00[3];    // +0x00
    std::uint8_t flags;          // +0x03 bit 0 set after the geometry changed
    Frame* frame;                // +0x04
    std::uint8_t field_08[0x10]; // +0x08
    Geometry* geometry;          // +0x18
    Sphere bounds;               // +0x1C local bounding sphere
    std::uint8_t field_2C[0x44]; // +0x2C
};
static_assert(offsetof(Atomic, field_00) == 0x00);
static_assert(offsetof(Atomic, flags) == 0x03);
static_assert(offsetof(Atomic, frame) == 0x04);
static_assert(offsetof(Atomic, field_08) == 0x08);
static_assert(offsetof(Atomic, geometry) == 0x18);
static_assert(offsetof(Atomic, bounds) == 0x1C);
static_assert(offsetof(Atomic, field_2C) == 0x2C);
static_assert(sizeof(Atomic) == 0x70);

// Triangle: three vertex indices and a material index.
struct Triangle {
    std::uint16_t vertex[3]; // +0x00
    std::int16_t material;   // +0x06
};
static_assert(offsetof(Triangle, vertex) == 0x00);
static_assert(offsetof(Triangle, material) == 0x06);
static_assert(sizeof(Triangle) == 8);

// Morph target: the block with positions, normals and the bounding sphere.
struct MorphTarget {
    Geometry* geometry; // +0x00 owning geometry
    Sphere bounds;      // +0x04
    V3* positions;      // +0x14
    V3* normals;        // +0x18 may be null
};
static_assert(offsetof(MorphTarget, geometry) == 0x00);
static_assert(offsetof(MorphTarget, bounds) == 0x04);
static_assert(offsetof(MorphTarget, positions) == 0x14);
static_assert(offsetof(MorphTarget, normals) == 0x18);
static_assert(sizeof(MorphTarget) == 28);

inline constexpr std::size_t kMaxTexCoordSets = 8;

struct TexCoord {
    float u, v;
};
static_assert(sizeof(TexCoord) == 8);

// Geometry flags.
inline constexpr std::uint32_t kGeoTriStrip = 0x01;
inline constexpr std::uint32_t kGeoPositions = 0x02;
inline constexpr std::uint32_t kGeoTexturedOne = 0x04;
inline constexpr std::uint32_t kGeoPrelit = 0x08;
inline constexpr std::uint32_t kGeoNormals = 0x10;
inline constexpr std::uint32_t kGeoLit = 0x20;
inline constexpr std::uint32_t kGeoModulateMaterialColour = 0x40;
inline constexpr std::uint32_t kGeoTexturedMany = 0x80;
inline constexpr std::uint32_t kGeoNativeA = 0x01000000;
inline constexpr std::uint32_t kGeoNativeB = 0x02000000;
inline constexpr unsigned kGeoTexSetShift =
    16; // texture-set count in bits 16..23 of a create format

// Geometry record. The morph-target pointer sits at one of two candidate
// offsets, which the plug-in settles at run time.
struct Geometry {
    std::uint8_t field_00[8];              // +0x00
    std::uint32_t flags;                   // +0x08
    std::uint16_t field_0C;                // +0x0C
    std::uint16_t refCount;                // +0x0E
    std::int32_t triangleCount;            // +0x10
    std::int32_t vertexCount;              // +0x14
    std::int32_t morphCount;               // +0x18
    std::int32_t texSetCount;              // +0x1C
    void** materials;                      // +0x20 material table
    std::int32_t materialCount;            // +0x24
    std::int32_t materialCapacity;         // +0x28
    Triangle* triangles;                   // +0x2C
    std::uint8_t* prelit;                  // +0x30 4 bytes per vertex, may be null
    TexCoord* texCoords[kMaxTexCoordSets]; // +0x34
    std::uint32_t field_54;                // +0x54
    std::uint32_t field_58;                // +0x58
    MorphTarget* morphAt5C;                // +0x5C first candidate of the morph-target pointer
    std::uint32_t field_60;                // +0x60
    std::uint32_t field_64;                // +0x64
    MorphTarget* morphAt68;                // +0x68 second candidate
};
static_assert(offsetof(Geometry, field_00) == 0x00);
static_assert(offsetof(Geometry, flags) == 0x08);
static_assert(offsetof(Geometry, field_0C) == 0x0C);
static_assert(offsetof(Geometry, refCount) == 0x0E);
static_assert(offsetof(Geometry, triangleCount) == 0x10);
static_assert(offsetof(Geometry, vertexCount) == 0x14);
static_assert(offsetof(Geometry, morphCount) == 0x18);
static_assert(offsetof(Geometry, texSetCount) == 0x1C);
static_assert(offsetof(Geometry, materials) == 0x20);
static_assert(offsetof(Geometry, materialCount) == 0x24);
static_assert(offsetof(Geometry, materialCapacity) == 0x28);
static_assert(offsetof(Geometry, triangles) == 0x2C);
static_assert(offsetof(Geometry, prelit) == 0x30);
static_assert(offsetof(Geometry, texCoords) == 0x34);
static_assert(offsetof(Geometry, field_54) == 0x54);
static_assert(offsetof(Geometry, field_58) == 0x58);
static_assert(offsetof(Geometry, morphAt5C) == 0x5C);
static_assert(offsetof(Geometry, field_60) == 0x60);
static_assert(offsetof(Geometry, field_64) == 0x64);
static_assert(offsetof(Geometry, morphAt68) == 0x68);
static_assert(sizeof(Geometry) == 0x6C);

// The geometry header: everything up to and including the last texture-set pointer.
inline constexpr std::size_t kGeometryHeaderSize = 0x54;
static_assert(offsetof(Geometry, field_54) == kGeometryHeaderSize);
inline constexpr std::uint32_t kMorphOffsetA = 0x5C;
inline constexpr std::uint32_t kMorphOffsetB = 0x68;

// Vehicle model information (the part that holds the rear-light position).
struct VehicleModelInfo {
    std::uint8_t field_00[0x5C]; // +0x00
    V3 rearLight;                // +0x5C one side; the other mirrors x
};
static_assert(offsetof(VehicleModelInfo, field_00) == 0x00);
static_assert(offsetof(VehicleModelInfo, rearLight) == 0x5C);
static_assert(sizeof(VehicleModelInfo) == 0x68);

#pragma pack(pop)

} // namespace host
