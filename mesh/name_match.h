#pragma once
// Case-blind tests of a frame name against a lower-case fragment, read in
// place: the name walk runs on every hit and must not copy or allocate.
namespace dent {

// True when name begins with lowerPrefix, letters compared case-blind. A null
// name is an empty one.
bool startsWithFolded(const char* name, const char* lowerPrefix);
// True when lowerFragment occurs anywhere in name, letters compared case-blind.
bool containsFolded(const char* name, const char* lowerFragment);

} // namespace dent
