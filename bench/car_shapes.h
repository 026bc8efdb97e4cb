#pragma once
// Cars that look like the game's: lofted bodies with the named parts of a Vice
// City car (chassis, bonnet, boot, doors, bumpers, wings, windscreen, wheels,
// exhaust and a low-detail chassis) at realistic sizes. Model space as the
// game's: x to the right, y forward, z up, the origin near axle height.
#include <string>
#include <vector>

#include "bench/car_model.h"
#include "bench/mesh.h"

namespace bench {

// One frame of a car's hierarchy, with the mesh of its atomic.
struct CarPart {
    std::string name;
    Mesh mesh;          // in the frame's own space; empty for a dummy
    V3 offset;          // frame position relative to its parent (frames are not rotated)
    int parent = -1;    // index into the parts; -1: the car's root frame
    bool atomic = true; // false: a bare dummy frame holding other parts
};

struct CarShape {
    CarModel model = CarModel::Saloon;
    std::vector<CarPart> parts; // every parent comes before its children
    V3 rearLight;      // right tail lamp (x > 0) in model space, as the game's model info holds it
    float mass = 0.0f; // kg, as the game's handling data has it
};

// The shape of a model; the same model gives the same shape every time.
// Parts: chassis_dummy holding chassis_hi and chassis_vlo; bonnet_dummy,
// boot_dummy, door_??_dummy, bump_front_dummy, bump_rear_dummy, wing_lf_dummy,
// wing_rf_dummy and windscreen_dummy each holding its *_hi_ok panel;
// wheel_lf_dummy, wheel_rf_dummy, wheel_lb_dummy and wheel_rb_dummy each
// holding a "wheel"; an "exhaust" pipe. The sports car has front doors only;
// the van has no boot and its rear doors (door_lr, door_rr) close its back;
// the taxi carries a "taxi_sign" on its roof.
CarShape carShape(CarModel model);

} // namespace bench
