#pragma once
// INI texts and the settings they must give, shared by the portable tests (a
// text source) and the Windows tests (real private-profile reads).
#include <gtest/gtest.h>

#include <string>

#include "plugin/settings.h"

namespace settings_cases {

struct Case {
    const char* name;
    const char* ini;
    void (*expect)(fendrix::Settings& s); // changes from the defaults
};

inline const Case kCases[] = {
    {"EmptyFileGivesDefaults", "", [](fendrix::Settings&) {}},
    {"ReferenceImpactRaisedToMinImpactPlusMargin",
     "[Deformation]\nMinImpact=0.3\nReferenceImpact=0.2\n",
     [](fendrix::Settings& s) {
         s.impact.MinImpact = 0.3f;
         s.impact.ReferenceImpact = 0.3f + 0.01f;
     }},
    {"ReferenceImpactFollowsDefaultMinImpactWhenItsTextIsBad",
     "[Deformation]\nMinImpact=abc\nReferenceImpact=0.02\n",
     [](fendrix::Settings& s) { s.impact.ReferenceImpact = 0.04f + 0.01f; }},
    {"MaxRadiusRaisedToMinRadius", "[Deformation]\nMinRadius=1.8\nMaxRadius=1.0\n",
     [](fendrix::Settings& s) {
         s.impact.MinRadius = 1.8f;
         s.impact.MaxRadius = 1.8f;
     }},
    {"CommaDecimalIsRejected", "[Deformation]\nStrength=2,5\n", [](fendrix::Settings&) {}},
    {"TrailingUnitIsRejected", "[Deformation]\nStrength=1.5x\n", [](fendrix::Settings&) {}},
    {"InlineCommentIsPartOfTheValue", "[Deformation]\nStrength=1.5 ; stronger\n",
     [](fendrix::Settings&) {}},
    {"EmptyValueGivesDefault", "[Deformation]\nStrength=\n", [](fendrix::Settings&) {}},
    {"HugeFiniteIsClamped", "[Deformation]\nMinImpact=1e9\n",
     [](fendrix::Settings& s) { s.impact.MinImpact = 0.3f; }},
    {"OverflowGivesDefault", "[Deformation]\nMinImpact=1e99\n", [](fendrix::Settings&) {}},
    {"NaNAndInfinityGiveDefaults", "[Deformation]\nMinImpact=nan\nFalloffPower=inf\n",
     [](fendrix::Settings&) {}},
    {"BelowLowerBoundIsRaised", "[Deformation]\nFalloffPower=0.1\nPanelMinDepth=-1\n",
     [](fendrix::Settings& s) {
         s.FalloffPower = 0.35f;
         s.PanelMinDepth = 0.0f;
     }},
    {"AboveUpperBoundIsCut", "[Deformation]\nMaxTotalDisplacement=7\nPanelCrease=0.9\n",
     [](fendrix::Settings& s) {
         s.MaxTotalDisplacement = 1.6f;
         s.PanelCrease = 0.65f;
     }},
    {"ContactGapIsTruncatedToMilliseconds", "[Deformation]\nContactGapMs=333.9\n",
     [](fendrix::Settings& s) { s.ContactGapMs = 333; }},
    {"ContactGapBelowBound", "[Deformation]\nContactGapMs=10\n",
     [](fendrix::Settings& s) { s.ContactGapMs = 50; }},
    {"NegativeCountEndsAtUpperBound", "[Traffic]\nNPCRange=-5\n",
     [](fendrix::Settings& s) { s.NPCRange = 200.0f; }},
    {"SmallRangeRaised", "[Traffic]\nNPCRange=7\n",
     [](fendrix::Settings& s) { s.NPCRange = 20.0f; }},
    {"ZeroCountsBecomeOne", "[Traffic]\nMaxNPCPerFrame=0\n[PartRetention]\nAttemptsPerStage=0\n",
     [](fendrix::Settings& s) {
         s.MaxNPCPerFrame = 1;
         s.AttemptsPerStage = 1;
     }},
    {"AttemptsCut", "[PartRetention]\nAttemptsPerStage=100\n",
     [](fendrix::Settings& s) { s.AttemptsPerStage = 12; }},
    {"TrackedAndVertexCountsRaised", "[Traffic]\nMaxTrackedVehicles=1\nMaxTotalVertices=10\n",
     [](fendrix::Settings& s) {
         s.MaxTrackedVehicles = 16;
         s.MaxTotalVertices = 50000;
     }},
    {"SwitchesAreNonZero",
     "[General]\nLogHits=0\nDiagnostics=7\n[Deformation]\nPanelBending=0\nPanelFollowBody=2\n"
     "[Lights]\nRearDamage=0\n[PartRetention]\nEnabled=0\n[Traffic]\nAffectNPCs=0\n",
     [](fendrix::Settings& s) {
         s.LogHits = false;
         s.Diagnostics = true;
         s.PanelBending = false;
         s.RearDamage = false;
         s.PartRetentionEnabled = false;
         s.AffectNPCs = false;
     }},
    {"KeysInTheWrongSectionAreIgnored", "[Traffic]\nMinImpact=0.2\n[General]\nNPCRange=50\n",
     [](fendrix::Settings&) {}},
    {"AcceptedValuesAreStored",
     "[Deformation]\nMinImpact=0.1\nReferenceImpact=1.5\nStrength=2\nImpactExponent=0.75\n"
     "MaxDentPerHit=0.9\nMinRadius=0.5\nMaxRadius=3\nPanelStrength=1.25\n"
     "PanelMaxCompression=0.3\nPanelMaxLift=0.7\nPanelCreaseRandomness=0.05\n"
     "[Lights]\nRearMinDepth=0.2\n[Traffic]\nNPCRange=150\nMaxTrackedVehicles=100\n"
     "MaxNPCPerFrame=10\nMaxTotalVertices=900000\n",
     [](fendrix::Settings& s) {
         s.impact = {0.1f, 1.5f, 2.0f, 0.75f, 0.9f, 0.5f, 3.0f};
         s.PanelStrength = 1.25f;
         s.PanelMaxCompression = 0.3f;
         s.PanelMaxLift = 0.7f;
         s.PanelCreaseRandomness = 0.05f;
         s.RearMinDepth = 0.2f;
         s.NPCRange = 150.0f;
         s.MaxTrackedVehicles = 100;
         s.MaxNPCPerFrame = 10;
         s.MaxTotalVertices = 900000;
     }},
};

// Every field, so that a stray change anywhere is caught.
inline void expectSame(const fendrix::Settings& a, const fendrix::Settings& b) {
#define FX_SAME(field) EXPECT_EQ(a.field, b.field) << #field
    FX_SAME(Diagnostics);
    FX_SAME(LogHits);
    FX_SAME(ResetKey);
    FX_SAME(impact.MinImpact);
    FX_SAME(impact.ReferenceImpact);
    FX_SAME(impact.Strength);
    FX_SAME(impact.ImpactExponent);
    FX_SAME(impact.MaxDentPerHit);
    FX_SAME(impact.MinRadius);
    FX_SAME(impact.MaxRadius);
    FX_SAME(MaxTotalDisplacement);
    FX_SAME(FalloffPower);
    FX_SAME(DentNormals);
    FX_SAME(ContactGapMs);
    FX_SAME(PanelBending);
    FX_SAME(PanelStrength);
    FX_SAME(PanelCrease);
    FX_SAME(PanelMaxCompression);
    FX_SAME(PanelMaxLift);
    FX_SAME(PanelMinDepth);
    FX_SAME(PanelFollowBody);
    FX_SAME(PanelCreaseRandomness);
    FX_SAME(RearDamage);
    FX_SAME(RearMinDepth);
    FX_SAME(PartRetentionEnabled);
    FX_SAME(AttemptsPerStage);
    FX_SAME(AffectNPCs);
    FX_SAME(NPCRange);
    FX_SAME(MaxTrackedVehicles);
    FX_SAME(MaxNPCPerFrame);
    FX_SAME(MaxTotalVertices);
#undef FX_SAME
}

inline void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

inline std::string caseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

} // namespace settings_cases
