#include "tuning/scala_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "support/midi_builder.h"

namespace pitchloom {
namespace {

constexpr int kC = 0;
constexpr int kD = 2;
constexpr int kA = 9;

std::string fixture(const std::string& name) {
    std::ifstream in(test::testData("scala/" + name), std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void expectFit(const ScalaResult<FittedScale>& fit, const Offsets& offsets,
               const ScaleMarks& marks) {
    ASSERT_TRUE(fit) << fit.reason;
    EXPECT_EQ(fit.value->offsets, offsets);
    EXPECT_EQ(fit.value->marks, marks);
}

TEST(ScalaRead, EachScaleLandsOnTheKeysWithItsCents) {
    const std::string text = fixture("werckmeister3.scl");
    EXPECT_EQ(parseScala(text).value->description, "Andreas Werckmeister's temperament III (1681)");
    const std::string slendro = fixture("slendro_5edo.scl");
    const auto scale = parseScala(slendro);
    ASSERT_TRUE(scale) << scale.reason;
    EXPECT_EQ(scale.value->description, "");  // comments, a blank description, text after values
    EXPECT_EQ(scale.value->pitches.size(), 5u);
    const std::string crlf =
        "Pythagorean pentatonic\r\n5\r\n9/8\r\n81/64\r\n3/2\r\n27/16\r\n2/1\r\n";
    EXPECT_EQ(parseScala(crlf).value->description, "Pythagorean pentatonic");
    const auto cr = parseScala("! old Mac\r!\rPythagorean\r5\r9/8\r81/64\r3/2\r27/16\r2/1\r");
    ASSERT_TRUE(cr) << cr.reason;
    EXPECT_EQ(cr.value->pitches.size(), 5u) << cr.value->description;
    EXPECT_EQ(parseKeyboardMapping("0\r0\r127\r62\r69\r440.0\r0\r").value->key(), kD);

    struct Case {
        std::string text;
        int key;
        Offsets offsets;
        ScaleMarks marks;
    };
    const Case cases[] = {
        // A well temperament detunes every key.
        {text,
         kC,
         {0, -10, -8, -6, -10, -2, -12, -4, -8, -12, -4, -8},
         {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        // Just major follows the key: the 5/4 third is E -14 in C, F# -14 in D.
        {fixture("just_major.scl"),
         kC,
         {0, 0, 4, 0, -14, -2, 0, 2, 0, -16, 0, -12},
         {1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1}},
        {fixture("just_major.scl"),
         kD,
         {0, -12, 0, 0, 4, 0, -14, -2, 0, 2, 0, -16},
         {0, 1, 1, 0, 1, 0, 1, 1, 0, 1, 0, 1}},
        {slendro,
         kC,
         {0, 0, 40, 0, 0, -20, 0, 20, 0, 0, -40, 0},
         {1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0}},
        {crlf, kC, {0, 0, 4, 0, 8, 0, 0, 2, 0, 6, 0, 0}, {1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0}},
        // Halfway degrees round away from zero.
        {"Halfway\n3\n-250.0\n250.0\n2/1\n",
         kC,
         {0, 0, 0, -50, 0, 0, 0, 0, 0, 50, 0, 0},
         {1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0}},
        // 6/5 takes D# (+16); 11/9 rounds to D# too and moves up to the free E at -53.
        {fixture("neutral_third.scl"),
         kC,
         {0, 0, 4, 16, -53, -2, 0, 2, 14, 0, -4, 0},
         {1, 0, 1, 1, 1, 1, 0, 1, 1, 0, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, c.text.find('\n')));
        expectFit(loadScala(c.text, c.key), c.offsets, c.marks);
    }
}

TEST(ScalaRead, RefusesWhatDoesNotFitOrBreaksTheFormat) {
    const std::string notValid(kScalaNotValid);
    const std::pair<std::string, std::string> cases[] = {
        {fixture("septimal_tritones.scl"), "Notes 3 and 4 of this scale fall on one key"},
        {fixture("bohlen_pierce.scl"), "This scale's period is 1901.96 cents, not an octave"},
        {fixture("19edo.scl"), "This scale has 19 notes"},
        {"Nothing\n0\n", "This scale has no notes to play."},
        {"Flat octave\n2\n100.0\n1199.4\n", "This scale's period is 1199.4 cents, not an octave"},
        {"", notValid + "it ends before the number of notes."},
        {"Words\nseven\n", notValid + "line 2: seven is not a number of notes."},
        {"! c\nBad\n3\n9/8\nfifth\n2/1\n", notValid + "line 5: fifth is not a pitch."},
        {"Bad\n2\n3/2/1\n2/1\n", notValid + "line 3: 3/2/1 is not a pitch."},
        {"Zero\n2\n5/0\n2/1\n", notValid + "line 3: 5/0 is not a ratio of two positive numbers."},
        {"Negative\n2\n-3/2\n2/1\n",
         notValid + "line 3: -3/2 is not a ratio of two positive numbers."},
        {"Short\n3\n9/8\n2/1\n", notValid + "it has fewer pitch lines than its number of notes."},
    };
    for (const auto& [text, reason] : cases) {
        const auto fit = loadScala(text, kC);
        EXPECT_FALSE(fit) << text;
        EXPECT_EQ(fit.reason, reason) << text;
    }
    EXPECT_TRUE(loadScala("Nearly an octave\n1\n1200.4\n", kC));
}

TEST(ScalaMapping, LinearMappingSetsTheKeyFromItsMiddleNote) {
    const auto mapping = parseKeyboardMapping(fixture("linear_d.kbm"));
    ASSERT_TRUE(mapping) << mapping.reason;
    EXPECT_EQ(mapping.value->middleNote, 62);
    EXPECT_EQ(mapping.value->referenceFrequency, 440.0);
    expectFit(loadScalaWithMapping(fixture("just_major.scl"), fixture("linear_d.kbm")),
              {0, -12, 0, 0, 4, 0, -14, -2, 0, 2, 0, -16}, {0, 1, 1, 0, 1, 0, 1, 1, 0, 1, 0, 1});
}

TEST(ScalaMapping, IdentityMappingFitsOnlyAScaleOfItsSize) {
    const std::string sevenOnG = fixture("seven_on_g.kbm");
    const auto seven = parseScala(fixture("just_major.scl"));
    const auto twelve = parseScala(fixture("werckmeister3.scl"));
    const auto mapping = parseKeyboardMapping(sevenOnG);
    ASSERT_TRUE(mapping) << mapping.reason;
    EXPECT_EQ(mappedKey(*mapping.value, *seven.value).value, 7);
    EXPECT_EQ(mappedKey(*mapping.value, *twelve.value).reason, kMappingOtherDegrees);
    KeyboardMapping twelveKeyOctave = *mapping.value;
    twelveKeyOctave.octaveDegree = 12;
    EXPECT_EQ(mappedKey(twelveKeyOctave, *seven.value).reason, kMappingOtherDegrees);
    EXPECT_EQ(loadScalaWithMapping(fixture("just_major.scl"), fixture("white_keys.kbm")).reason,
              kMappingOtherDegrees);
}

TEST(ScalaMapping, RefusesMalformedMappings) {
    const std::string notValid(kMappingNotValid);
    const std::pair<std::string, std::string> cases[] = {
        {"0\n0\n127\n128\n69\n440.0\n0\n", notValid + "line 4: 128 is not a MIDI note (0 to 127)."},
        {"0\n0\n127\n60\n", notValid + "it ends before the reference note."},
        {"0\n0\n127\n60\n69\nA4\n0\n", notValid + "line 6: A4 is not a frequency."},
        {"0\n0\n127\n60\n69\n440.0\n", notValid + "it ends before the formal octave degree."},
        {"! m\n2\n0\n127\n60\n69\n440.0\n2\n0\ny\n",
         notValid + "line 10: y is not a scale degree or x."},
    };
    for (const auto& [text, reason] : cases) {
        EXPECT_EQ(parseKeyboardMapping(text).reason, reason) << text;
    }
}

TEST(ScalaWrite, WritesInScaleKeysAboveTheKeyInCents) {
    // Key D, Pentatonic, Just Intonation.
    const Offsets offsets = {-6, -10, 0, -8, 4, 16, -14, -2, -10, 2, -6, 6};
    const ScaleMarks marks = {0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 1};
    EXPECT_EQ(writeScala(offsets, marks, kD,
                         "Pitchloom Pro: key D, scale Pentatonic, tuning Just Intonation",
                         "d_pentatonic.scl"),
              "! d_pentatonic.scl\n"
              "Pitchloom Pro: key D, scale Pentatonic, tuning Just Intonation\n"
              "5\n204.0\n386.0\n702.0\n906.0\n2/1\n");
}

TEST(ScalaWrite, LoadingWhatWasWrittenGivesTheSameScale) {
    // Key A is detuned and out of the scale; several keys sit 50 cents or more from their own.
    const Offsets offsets = {55, 12, -51, 3, 63, -64, -9, 0, 20, 7, -60, 30};
    const ScaleMarks marks = {1, 0, 1, 0, 1, 1, 0, 1, 0, 0, 1, 0};
    const std::string text = writeScala(offsets, marks, kA, "Wide");
    EXPECT_EQ(text, "Wide\n7\n40.0 A#\n355.0 C\n449.0 D\n763.0 E\n736.0 F\n1000.0\n2/1\n");
    expectFit(loadScala(text, kA), {55, 0, -51, 0, 63, -64, 0, 0, 0, 0, -60, 0},
              {1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 1, 0});
}

}  // namespace
// The pitch of each named key, and which of them sound, as a scale lies on the keys.
void expectKeys(const KeyPitches& keys, std::initializer_list<std::pair<int, double>> pitches,
                std::initializer_list<int> silent = {}) {
    for (const auto& [key, cents] : pitches) {
        EXPECT_TRUE(keys.sounds[static_cast<std::size_t>(key)]) << key;
        EXPECT_NEAR(keys.cents[static_cast<std::size_t>(key)], cents, 0.001) << key;
    }
    for (int key : silent)
        EXPECT_FALSE(keys.sounds[static_cast<std::size_t>(key)]) << key;
}

ScalaTuning tuned(const std::string& scl, int key, const char* kbm = nullptr) {
    const auto scale = parseScala(fixture(scl));
    EXPECT_TRUE(scale) << scale.reason;
    std::optional<KeyboardMapping> mapping;
    if (kbm != nullptr) {
        const auto m = parseKeyboardMapping(fixture(kbm));
        EXPECT_TRUE(m) << m.reason;
        mapping = m.value;
    }
    auto t = tuneScala(*scale.value, mapping, key);
    EXPECT_TRUE(t) << t.reason;
    return t ? *t.value : ScalaTuning{};
}

TEST(ScalaKeys, ScalesBeyondTwelveLieOnTheKeysFromTheKeyInMiddleCsOctave) {
    // No mapping: one key per degree, degree 0 on the key's equal-tempered pitch.
    const ScalaTuning edo19 = tuned("19edo.scl", kC);
    EXPECT_FALSE(edo19.twelve);
    EXPECT_EQ(edo19.whyNotTwelve, "This scale has 19 notes");
    EXPECT_EQ(edo19.noteCount, 19u);
    expectKeys(
        edo19.keys,
        {{60, 6000}, {61, 6063.158}, {59, 5936.842}, {79, 7200}, {0, 2210.526}, {127, 10231.579}});
    expectKeys(tuned("19edo.scl", kD).keys, {{62, 6200}, {63, 6263.158}, {81, 7400}});
    EXPECT_EQ(tuned("31edo.scl", kC).whyNotTwelve, "This scale has 31 notes");
    expectKeys(tuned("31edo.scl", kC).keys, {{91, 7200}, {29, 4800}});

    // A period of 3/1: thirteen keys to the tritave.
    const ScalaTuning bp = tuned("bohlen_pierce.scl", kC);
    EXPECT_EQ(bp.whyNotTwelve, "This scale's period is 1901.96 cents, not an octave");
    expectKeys(bp.keys, {{60, 6000},
                         {61, 6133.238},
                         {72, 7768.717},
                         {73, 7901.955},
                         {59, 5866.762},
                         {47, 4098.045}});
    // Keys past what MIDI can sound are silent: BP passes it 47 keys above middle C and 42 below.
    expectKeys(bp.keys, {{106, 12723.461}, {19, -7.712}}, {107, 127, 18, 0});

    const ScalaTuning stretched = tuned("stretched_1202.scl", kC);
    EXPECT_EQ(stretched.whyNotTwelve, "This scale's period is 1202 cents, not an octave");
    expectKeys(stretched.keys, {{61, 6100.167}, {72, 7202}, {84, 8404}, {48, 4798}});
    EXPECT_EQ(tuned("septimal_tritones.scl", kC).whyNotTwelve,
              "Notes 3 and 4 of this scale fall on one key");
}

TEST(ScalaKeys, AMappingSaysWhichDegreeEachKeyPlaysAndWhereItsReferenceSounds) {
    // Twelve keys to twelve of 22 shrutis, octave degree 22, C at its equal-tempered pitch.
    const ScalaTuning shruti = tuned("shruti22.scl", kC, "shruti_on_12.kbm");
    EXPECT_EQ(shruti.whyNotTwelve, "This keyboard mapping maps keys to other scale degrees");
    expectKeys(
        shruti.keys,
        {{60, 6000}, {61, 6111.731}, {62, 6203.910}, {71, 7088.269}, {72, 7200}, {49, 4911.731}});

    // White keys only, A at 432 Hz, keys 36 to 96: black keys and keys outside play nothing.
    const ScalaTuning white = tuned("just_major.scl", kC, "white_keys_432.kbm");
    EXPECT_FALSE(white.twelve);
    expectKeys(white.keys,
               {{69, 6868.233}, {60, 5983.875}, {62, 6187.785}, {72, 7183.875}, {36, 3583.875}},
               {61, 63, 66, 70, 35, 97, 0, 127});

    // A scale that fits twelve keeps its layout; the mapping's reference only moves it as a
    // whole where any pitch can be said: A is laid 2 cents sharp in just D major.
    const ScalaTuning d = tuned("just_major.scl", kC, "linear_d.kbm");
    ASSERT_TRUE(d.twelve);
    EXPECT_EQ(d.twelve->offsets, (Offsets{0, -12, 0, 0, 4, 0, -14, -2, 0, 2, 0, -16}));
    EXPECT_NEAR(d.referenceShift, -2.0, 1e-9);
    EXPECT_EQ(tuned("just_major.scl", kC).referenceShift, 0.0);
}

TEST(ScalaKeys, OnlyAScaleWithoutNotesIsRefused) {
    EXPECT_EQ(tuneScala(*parseScala("Nothing\n0\n").value, std::nullopt, kC).reason,
              "This scale has no notes to play.");
    // A falling period, and ratios past 64 bits (an archive's schisma scale): both lie on keys.
    const auto falling =
        tuneScala(*parseScala("Falling\n2\n-100.0\n-250.0\n").value, std::nullopt, kC);
    ASSERT_TRUE(falling);
    expectKeys(falling.value->keys, {{61, 5900}, {62, 5750}, {59, 6150}, {58, 6250}});
    const auto huge = parseScala("Schisma\n1\n156348578434374084375/147573952589676412928\n");
    ASSERT_TRUE(huge) << huge.reason;
    EXPECT_NEAR(huge.value->pitches[0].cents, 99.994, 0.001);
}

}  // namespace pitchloom
