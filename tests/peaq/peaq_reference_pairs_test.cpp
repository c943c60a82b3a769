// All reference pairs of the shared quality set against the values an
// independent implementation gives: ODG within 0.15, the same ranking within
// each item, and a reference against itself at the top of the scale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/peaq/peaq.h"
#include "tools/peaq/wav_input.h"

namespace {

using namespace kestrune::peaq;

struct Pair {
    std::string reference;
    std::string test;
    double expectedOdg = 0.0;
    double expectedDi = 0.0;
    double odg = 0.0;
    double di = 0.0;
};

const std::string kQualityDir = std::string(KESTRUNE_SHARED_DIR) + "/quality/";

std::vector<Pair> loadExpected() {
    std::ifstream in(kQualityDir + "expected.tsv");
    std::vector<Pair> pairs;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Pair p;
        fields >> p.reference >> p.test >> p.expectedOdg >> p.expectedDi;
        if (fields) pairs.push_back(p);
    }
    return pairs;
}

Signal load(const std::string& name) {
    Signal s;
    std::string error;
    EXPECT_TRUE(readWave(kQualityDir + name, s, error)) << error;
    return s;
}

TEST(PeaqReferencePairs, AgreeWithIndependentImplementation) {
    std::vector<Pair> pairs = loadExpected();
    ASSERT_EQ(pairs.size(), 35u) << "expected.tsv missing or incomplete in " << kQualityDir;

    std::map<std::string, Signal> references;
    std::printf("%-28s %8s %8s %8s %8s %8s\n", "test", "ours", "theirs", "diff", "DI", "DI exp");
    for (Pair& p : pairs) {
        if (!references.count(p.reference)) references[p.reference] = load(p.reference);
        const Signal& ref = references[p.reference];
        const Signal test = load(p.test);
        ASSERT_FALSE(ref.channels.empty());
        ASSERT_EQ(ref.channels.size(), test.channels.size()) << p.test;
        const Result r = evaluate(ref.channels, test.channels);
        p.odg = r.odg;
        p.di = r.distortionIndex;
        std::printf("%-28s %8.3f %8.3f %+8.3f %8.3f %8.3f\n", p.test.c_str(), p.odg, p.expectedOdg,
                    p.odg - p.expectedOdg, p.di, p.expectedDi);
        EXPECT_NEAR(p.odg, p.expectedOdg, 0.15) << p.test;
    }

    for (const Pair& a : pairs) {
        for (const Pair& b : pairs) {
            if (a.reference != b.reference) continue;
            // Same order wherever the expected grades differ by more than 0.3.
            if (a.expectedOdg - b.expectedOdg > 0.3) {
                EXPECT_GT(a.odg, b.odg) << a.test << " should rank above " << b.test;
            }
            // A reference against itself is at the top of its item and of the scale.
            if (a.test == a.reference) {
                EXPECT_GE(a.odg, b.odg - 1e-9) << a.test << " vs " << b.test;
                EXPECT_GT(a.odg, 0.1) << a.test;
            }
        }
    }
}

}  // namespace
