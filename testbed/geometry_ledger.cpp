#include "testbed/geometry_ledger.h"

#include <cstdio>

namespace testbed {

namespace {

constexpr std::uint32_t kMaterialTag = 0x4D415431; // "MAT1"

std::string hex(const void* p) {
    char text[16];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

} // namespace

GeometryLedger& ledger() {
    static GeometryLedger instance;
    return instance;
}

GeometryEntry& GeometryLedger::add(host::Geometry* record) {
    auto entry = std::make_unique<GeometryEntry>();
    entry->record = record;
    entry->serial = nextSerial_++;
    GeometryEntry& result = *entry;
    entries_[record] = std::move(entry);
    return result;
}

GeometryEntry* GeometryLedger::find(const host::Geometry* record) {
    const auto it = entries_.find(record);
    return it == entries_.end() ? nullptr : it->second.get();
}

GeometryEntry* GeometryLedger::live(const host::Geometry* record) {
    GeometryEntry* entry = find(record);
    return entry != nullptr && entry->live ? entry : nullptr;
}

void GeometryLedger::violation(const std::string& text) {
    violations_.push_back(text);
}

void GeometryLedger::attach(host::Atomic* atomic, host::Geometry* geometry) {
    if (geometry == nullptr) {
        attached_.erase(atomic);
    } else {
        attached_[atomic] = geometry;
    }
}

void GeometryLedger::detach(host::Atomic* atomic) {
    attached_.erase(atomic);
}

host::Atomic* GeometryLedger::holderOf(const host::Geometry* geometry) const {
    for (const auto& [atomic, held] : attached_) {
        if (held == geometry) {
            return const_cast<host::Atomic*>(atomic);
        }
    }
    return nullptr;
}

host::Geometry* GeometryLedger::attachedTo(const host::Atomic* atomic) const {
    const auto it = attached_.find(atomic);
    return it == attached_.end() ? nullptr : it->second;
}

Material* GeometryLedger::newMaterial() {
    materials_.push_back(std::make_unique<Material>());
    materials_.back()->tag = kMaterialTag;
    materialIndex_[materials_.back().get()] = materials_.back().get();
    return materials_.back().get();
}

Material* GeometryLedger::material(const void* pointer) {
    const auto it = materialIndex_.find(pointer);
    return it == materialIndex_.end() ? nullptr : it->second;
}

std::size_t GeometryLedger::liveCount() const {
    std::size_t count = 0;
    for (const auto& [record, entry] : entries_) {
        count += entry->live ? 1 : 0;
    }
    return count;
}

std::vector<host::Geometry*> GeometryLedger::liveSince(const Mark& mark) const {
    std::vector<host::Geometry*> result;
    for (const auto& [record, entry] : entries_) {
        if (entry->live && entry->serial >= mark.serial) {
            result.push_back(entry->record);
        }
    }
    return result;
}

std::string GeometryLedger::problemsSince(const Mark& mark) const {
    std::string text;
    for (std::size_t i = mark.violations; i < violations_.size(); ++i) {
        text += violations_[i] + "\n";
    }
    for (host::Geometry* record : liveSince(mark)) {
        if (holderOf(record) == nullptr) {
            text += "leaked geometry " + hex(record) + "\n";
        }
    }
    // Every material reference is held by a live table.
    std::unordered_map<const Material*, std::int32_t> held;
    for (const auto& [record, entry] : entries_) {
        if (!entry->live) {
            continue;
        }
        for (const void* material : entry->heldMaterials) {
            ++held[static_cast<const Material*>(material)];
        }
    }
    for (const auto& material : materials_) {
        if (material->refCount != held[material.get()]) {
            text += "material " + hex(material.get()) + " has " +
                    std::to_string(material->refCount) + " references, tables hold " +
                    std::to_string(held[material.get()]) + "\n";
        }
    }
    return text;
}

} // namespace testbed
