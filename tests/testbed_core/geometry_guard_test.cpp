// GeometryGuard and MaterialGuard over tables of damaged geometries: bad
// counts, flags without arrays, and pointers into reserved, free, no-access,
// guard and execute-only pages. A guard that read through one of them would
// fault, which fails the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "testbed/geometry_damage.h"
#include "host/game.h"
#include "mesh/geometry_guard.h"
#include "testbed/geometry_builder.h"
#include "testbed/guarded_memory.h"

namespace {

using Field = testbed::GeometryField;
using fendrix::GeometryGuard;
using fendrix::MaterialGuard;
using testbed::kPageSize;
using testbed::MorphSlot;
using testbed::PageKind;
using testbed::PageRun;

const PageKind kUnreadable[] = {PageKind::Reserved, PageKind::Free, PageKind::NoAccess,
                                PageKind::Guard, PageKind::ExecuteOnly};
const PageKind kOtherReadable[] = {PageKind::ReadOnly, PageKind::ExecuteRead,
                                   PageKind::ReadWriteNoCache};

// Every array present: normals, prelit colours, two texture sets, two materials.
testbed::GeometryRecipe fullRecipe() {
    testbed::GeometryRecipe recipe;
    recipe.vertices = 6;
    recipe.triangles = 4;
    recipe.normals = true;
    recipe.prelit = true;
    recipe.texSets = 2;
    recipe.materials = 2;
    return recipe;
}

// A built geometry, destroyed when the case ends.
class Built {
  public:
    explicit Built(const testbed::GeometryRecipe& recipe) : g_(testbed::buildGeometry(recipe)) {}
    ~Built() {
        if (g_ != nullptr) {
            game::destroyGeometry(g_);
        }
    }
    Built(const Built&) = delete;
    Built& operator=(const Built&) = delete;
    host::Geometry* get() const { return g_; }
    host::Geometry* operator->() const { return g_; }

  private:
    host::Geometry* g_;
};

class GeometryGuardTest : public core_test::CoreTest,
                          public testing::WithParamInterface<MorphSlot> {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        useLayout(GetParam());
    }
    std::uint32_t offset() const { return testbed::slotOffset(GetParam()); }
    std::uint32_t otherOffset() const {
        return offset() == host::kMorphOffsetA ? host::kMorphOffsetB : host::kMorphOffsetA;
    }
};

INSTANTIATE_TEST_SUITE_P(Layouts, GeometryGuardTest,
                         testing::Values(MorphSlot::At5C, MorphSlot::At68), [](const auto& info) {
                             return info.param == MorphSlot::At5C ? std::string("At5C")
                                                                  : std::string("At68");
                         });

TEST_P(GeometryGuardTest, IntactGeometriesPass) {
    Built full(fullRecipe());
    Built bare(testbed::GeometryRecipe{});
    ASSERT_NE(full.get(), nullptr);
    EXPECT_TRUE(GeometryGuard(full.get(), offset()));
    EXPECT_TRUE(GeometryGuard(bare.get(), offset()));
    EXPECT_TRUE(MaterialGuard(full.get()));
    EXPECT_FALSE(GeometryGuard(full.get(), 0)) << "no layout validated yet";
    EXPECT_FALSE(GeometryGuard(full.get(), otherOffset()))
        << "the other slot is not the morph target";
}

struct Damage {
    std::string name;
    std::function<void(host::Geometry*, host::MorphTarget*)> apply;
    bool accepted;
};

TEST_P(GeometryGuardTest, DamagedRecords) {
    const std::vector<Damage> damages = {
        {"vertex count 0", [](auto* g, auto*) { g->vertexCount = 0; }, false},
        {"vertex count -1", [](auto* g, auto*) { g->vertexCount = -1; }, false},
        {"vertex count 30001", [](auto* g, auto*) { g->vertexCount = 30001; }, false},
        {"triangle count 0", [](auto* g, auto*) { g->triangleCount = 0; }, false},
        {"triangle count -1", [](auto* g, auto*) { g->triangleCount = -1; }, false},
        {"triangle count 60001", [](auto* g, auto*) { g->triangleCount = 60001; }, false},
        {"no morph target", [](auto* g, auto*) { g->morphCount = 0; }, false},
        {"two morph targets", [](auto* g, auto*) { g->morphCount = 2; }, false},
        {"nine texture sets", [](auto* g, auto*) { g->texSetCount = 9; }, false},
        {"texture set count -1", [](auto* g, auto*) { g->texSetCount = -1; }, false},
        {"three texture sets, third missing", [](auto* g, auto*) { g->texSetCount = 3; }, false},
        {"second texture set missing", [](auto* g, auto*) { g->texCoords[1] = nullptr; }, false},
        {"one texture set counted, second ignored",
         [](auto* g, auto*) {
             g->texSetCount = 1;
             g->texCoords[1] = nullptr;
         },
         true},
        {"native flag 0x01000000", [](auto* g, auto*) { g->flags |= host::kGeoNativeA; }, false},
        {"native flag 0x02000000", [](auto* g, auto*) { g->flags |= host::kGeoNativeB; }, false},
        {"morph target owned by another geometry", [](auto*, auto* mt) { mt->geometry = nullptr; },
         false},
        {"positions missing", [](auto*, auto* mt) { mt->positions = nullptr; }, false},
        {"triangles missing", [](auto* g, auto*) { g->triangles = nullptr; }, false},
        {"normal flag without normals", [](auto*, auto* mt) { mt->normals = nullptr; }, false},
        {"neither normal flag nor normals",
         [](auto* g, auto* mt) {
             g->flags &= ~host::kGeoNormals;
             mt->normals = nullptr;
         },
         true},
        {"normals without their flag", [](auto* g, auto*) { g->flags &= ~host::kGeoNormals; },
         true},
        {"prelit flag without colours", [](auto* g, auto*) { g->prelit = nullptr; }, false},
        {"neither prelit flag nor colours",
         [](auto* g, auto*) {
             g->flags &= ~host::kGeoPrelit;
             g->prelit = nullptr;
         },
         true},
        {"prelit colours without their flag", [](auto* g, auto*) { g->flags &= ~host::kGeoPrelit; },
         true},
        {"low morph-target pointer",
         [this](auto* g, auto*) {
             testbed::writePointer(testbed::fieldSlot(g, offset(), Field::Morph), 0x1000);
         },
         false},
        {"low positions pointer",
         [](auto*, auto* mt) { mt->positions = reinterpret_cast<host::V3*>(0xFFF0); }, false},
        {"material table broken (not this guard's concern)",
         [](auto* g, auto*) { g->materials = nullptr; }, true},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        Built g(fullRecipe());
        ASSERT_NE(g.get(), nullptr);
        d.apply(g.get(), testbed::morphTargetOf(g.get()));
        EXPECT_EQ(GeometryGuard(g.get(), offset()), d.accepted);
    }
}

TEST_P(GeometryGuardTest, CountLimitsOnRealArrays) {
    struct Size {
        std::int32_t vertices, triangles;
        bool accepted;
    };
    const Size sizes[] = {{30000, 60000, true}, {30001, 60000, false}, {30000, 60001, false},
                          {1, 1, true},         {0, 1, false},         {1, 0, false}};
    for (const Size& s : sizes) {
        SCOPED_TRACE(testing::Message()
                     << s.vertices << " vertices, " << s.triangles << " triangles");
        host::Geometry* g = game::createGeometry(s.vertices, s.triangles, host::kGeoPositions);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(GeometryGuard(g, offset()), s.accepted);
        game::destroyGeometry(g);
    }
}

// Each pointer the guard follows, moved into pages of every kind, or so that
// its block ends exactly at, or one byte past, the end of a readable region.
TEST_P(GeometryGuardTest, PointersIntoEveryKindOfPage) {
    const Field fields[] = {Field::Morph,  Field::Positions, Field::Triangles, Field::Normals,
                            Field::Prelit, Field::TexSet0,   Field::TexSet1};
    for (Field field : fields) {
        for (PageKind kind : kOtherReadable) {
            SCOPED_TRACE(std::string(testbed::fieldName(field)) + " in " + testbed::kindName(kind));
            Built g(fullRecipe());
            PageRun run({kind});
            testbed::moveField(run, kind, run.page(0), g.get(), offset(), field);
            run.seal();
            EXPECT_TRUE(GeometryGuard(g.get(), offset()));
        }
        for (PageKind kind : kUnreadable) {
            SCOPED_TRACE(std::string(testbed::fieldName(field)) + " in " + testbed::kindName(kind));
            Built g(fullRecipe());
            PageRun run({kind});
            testbed::moveField(run, kind, run.page(0), g.get(), offset(), field);
            run.seal();
            EXPECT_FALSE(GeometryGuard(g.get(), offset()));
            EXPECT_TRUE(run.guardsIntact()) << "never touched";
        }
        for (std::uint32_t past : {0u, 1u}) {
            SCOPED_TRACE(std::string(testbed::fieldName(field)) + " ending " +
                         std::to_string(past) + " byte(s) past a readable region");
            Built g(fullRecipe());
            PageRun run({PageKind::ReadWrite, PageKind::NoAccess});
            const std::uintptr_t at = run.pageEnd(0) - testbed::fieldSize(g.get(), field) + past;
            testbed::moveField(run, PageKind::ReadWrite, at, g.get(), offset(), field);
            run.seal();
            EXPECT_EQ(GeometryGuard(g.get(), offset()), past == 0);
        }
    }
}

// The record itself in unreadable memory, or cut off by the end of a region
// before its morph-target pointer. The record is a copy with a morph target
// of its own, so that only its placement decides.
class RecordCopy {
  public:
    RecordCopy(host::Geometry* source, std::uint32_t offset, const PageRun& run, PageKind kind,
               std::uintptr_t at)
        : morphPage_({PageKind::ReadWrite}) {
        host::MorphTarget morph = *testbed::morphTargetOf(source);
        morph.geometry = reinterpret_cast<host::Geometry*>(at);
        morphPage_.write(morphPage_.page(0), &morph, sizeof morph);
        morphPage_.seal();
        host::Geometry record = *source;
        const std::uintptr_t morphAddress = morphPage_.page(0);
        std::memcpy(reinterpret_cast<std::uint8_t*>(&record) + offset, &morphAddress,
                    sizeof morphAddress);
        if (testbed::committedKind(kind)) {
            // Only the part that fits in the run; the rest stays unwritten.
            const std::uintptr_t end = run.pageEnd(run.size() - 1);
            const std::size_t size = at + sizeof record <= end ? sizeof record : end - at;
            run.write(at, &record, size);
        }
        copy_ = reinterpret_cast<host::Geometry*>(at);
    }
    host::Geometry* get() const { return copy_; }

  private:
    PageRun morphPage_;
    host::Geometry* copy_ = nullptr;
};

TEST_P(GeometryGuardTest, RecordPlacement) {
    Built g(fullRecipe());
    for (PageKind kind :
         {PageKind::ReadWrite, PageKind::ReadOnly, PageKind::Reserved, PageKind::Free,
          PageKind::NoAccess, PageKind::Guard, PageKind::ExecuteOnly}) {
        SCOPED_TRACE(std::string("record in ") + testbed::kindName(kind));
        PageRun run({kind});
        RecordCopy copy(g.get(), offset(), run, kind, run.page(0));
        run.seal();
        EXPECT_EQ(GeometryGuard(copy.get(), offset()), testbed::readableKind(kind));
        EXPECT_EQ(MaterialGuard(copy.get()), testbed::readableKind(kind));
        EXPECT_TRUE(run.guardsIntact());
    }
    struct Cut {
        std::uint32_t readableBytes; // of the record, before a no-access page
        bool accepted;
    };
    const Cut cuts[] = {{offset() + 4, true},
                        {offset() + 3, false},
                        {static_cast<std::uint32_t>(host::kGeometryHeaderSize), false},
                        {static_cast<std::uint32_t>(host::kGeometryHeaderSize) - 1, false}};
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(testing::Message() << cut.readableBytes << " readable bytes of the record");
        PageRun run({PageKind::ReadWrite, PageKind::NoAccess});
        RecordCopy copy(g.get(), offset(), run, PageKind::ReadWrite,
                        run.pageEnd(0) - cut.readableBytes);
        run.seal();
        EXPECT_EQ(GeometryGuard(copy.get(), offset()), cut.accepted);
    }
}

TEST_P(GeometryGuardTest, AddressesOutsideEveryRecord) {
    const std::uintptr_t addresses[] = {0, 4, 0xFFFF, fendrix::kHighestGeometryAddress + 1,
                                        0xFFFFFFF0u};
    for (std::uintptr_t at : addresses) {
        SCOPED_TRACE(testing::Message() << std::hex << at);
        const auto* g = reinterpret_cast<const host::Geometry*>(at);
        EXPECT_FALSE(GeometryGuard(g, offset()));
        EXPECT_FALSE(MaterialGuard(g));
        EXPECT_FALSE(fendrix::isGeometryHeaderReadable(g));
    }
}

// --- MaterialGuard -------------------------------------------------------

class MaterialGuardTest : public core_test::CoreTest {};

TEST_F(MaterialGuardTest, DamagedTables) {
    const std::vector<Damage> damages = {
        {"intact", [](auto*, auto*) {}, true},
        {"no materials", [](auto* g, auto*) { g->materialCount = 0; }, false},
        {"material count -1", [](auto* g, auto*) { g->materialCount = -1; }, false},
        {"129 materials",
         [](auto* g, auto*) {
             g->materialCount = 129;
             g->materialCapacity = 200;
         },
         false},
        {"capacity 4097", [](auto* g, auto*) { g->materialCapacity = 4097; }, false},
        {"capacity 4096", [](auto* g, auto*) { g->materialCapacity = 4096; }, true},
        {"capacity below the count",
         [](auto* g, auto*) { g->materialCapacity = g->materialCount - 1; }, false},
        {"capacity equal to the count",
         [](auto* g, auto*) { g->materialCapacity = g->materialCount; }, true},
        {"negative capacity", [](auto* g, auto*) { g->materialCapacity = -1; }, false},
        {"no table", [](auto* g, auto*) { g->materials = nullptr; }, false},
        {"low table pointer",
         [](auto* g, auto*) { g->materials = reinterpret_cast<void**>(0xFFF0); }, false},
        {"table wrapping past 4 GiB",
         [](auto* g, auto*) { g->materials = reinterpret_cast<void**>(0xFFFFFFF8u); }, false},
        {"null entry", [](auto* g, auto*) { g->materials[1] = nullptr; }, false},
        {"low entry", [](auto* g, auto*) { g->materials[2] = reinterpret_cast<void*>(0xFFFC); },
         false},
        {"entry off by 1",
         [](auto* g, auto*) { g->materials[0] = static_cast<char*>(g->materials[0]) + 1; }, false},
        {"entry off by 2",
         [](auto* g, auto*) { g->materials[2] = static_cast<char*>(g->materials[2]) + 2; }, false},
        {"entry at the lowest plausible address",
         [](auto* g, auto*) { g->materials[0] = reinterpret_cast<void*>(0x10000); }, true},
        {"entries past the count are not looked at", [](auto* g, auto*) { g->materialCount = 2; },
         true},
    };
    testbed::GeometryRecipe recipe;
    recipe.triangles = 3;
    recipe.materials = 3;
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        Built g(recipe);
        ASSERT_EQ(g->materialCount, 3);
        d.apply(g.get(), nullptr);
        EXPECT_EQ(MaterialGuard(g.get()), d.accepted);
    }
}

TEST_F(MaterialGuardTest, LargestTable) {
    testbed::GeometryRecipe recipe;
    recipe.vertices = 3;
    recipe.triangles = 130;
    recipe.materials = 128;
    Built g(recipe);
    ASSERT_EQ(g->materialCount, 128);
    EXPECT_TRUE(MaterialGuard(g.get()));
}

TEST_F(MaterialGuardTest, TableInEveryKindOfPage) {
    testbed::GeometryRecipe recipe;
    recipe.triangles = 3;
    recipe.materials = 3;
    for (PageKind kind :
         {PageKind::ReadOnly, PageKind::ExecuteRead, PageKind::Reserved, PageKind::Free,
          PageKind::NoAccess, PageKind::Guard, PageKind::ExecuteOnly}) {
        SCOPED_TRACE(testbed::kindName(kind));
        Built g(recipe);
        PageRun run({kind});
        testbed::moveField(run, kind, run.page(0), g.get(), 0, Field::Materials);
        run.seal();
        EXPECT_EQ(MaterialGuard(g.get()), testbed::readableKind(kind));
        EXPECT_TRUE(run.guardsIntact());
    }
    for (std::uint32_t past : {0u, 1u}) {
        SCOPED_TRACE(testing::Message() << "table ending " << past << " byte(s) past a region");
        Built g(recipe);
        PageRun run({PageKind::ReadWrite, PageKind::Guard});
        const std::uintptr_t at =
            run.pageEnd(0) - testbed::fieldSize(g.get(), Field::Materials) + past;
        testbed::moveField(run, PageKind::ReadWrite, at, g.get(), 0, Field::Materials);
        run.seal();
        EXPECT_EQ(MaterialGuard(g.get()), past == 0);
        EXPECT_TRUE(run.guardsIntact());
    }
}

} // namespace
