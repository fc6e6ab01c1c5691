// The search: weak-bit ranking, flip-pattern order, which keys are looked up, the candidate
// cap, the choice with duplicates, and the decision with age penalties and posts.
#include "recognition/TSearch.h"

#include <cmath>
#include <gtest/gtest.h>

#include "SearchTestKit.h"
#include "support/TestSignals.h"

namespace orvane::recognition::test {
namespace {

using tracking::TActionCode;

/// A weak-bit record of six bit numbers, weakest first.
std::uint32_t Record(std::initializer_list<std::uint32_t> bits) {
    std::uint32_t record = 0;
    int j = 0;
    for (std::uint32_t b : bits) record |= b << (5 * j++);
    return record;
}

TEST(TSearchRankWeakBits, RecordsTheSixSmallestMarginsWeakestFirstAndTheFirstFoundWinsTies) {
    struct Case {
        const char* Name;
        std::vector<float> Values;  // margins 1 ... 32
        std::uint32_t Expected;
    };
    std::vector<float> rising(32);
    for (int j = 0; j < 32; ++j) rising[static_cast<std::size_t>(j)] = 1.0f + static_cast<float>(j);
    std::vector<float> falling(rising.rbegin(), rising.rend());
    std::vector<float> ties(32, 5.0f);
    std::vector<float> signs = rising;
    signs[20] = -0.5f;  // bit 20 by magnitude
    signs[9] = 0.5f;    // bit 9 ties with it and is found first
    for (const Case& c : {Case{"rising", rising, Record({0, 1, 2, 3, 4, 5})},
                          Case{"falling", falling, Record({31, 30, 29, 28, 27, 26})},
                          Case{"all equal", ties, Record({0, 1, 2, 3, 4, 5})},
                          Case{"magnitudes", signs, Record({9, 20, 0, 1, 2, 3})}}) {
        SCOPED_TRACE(c.Name);
        signal::QnKeyConversion converter;
        for (int j = 1; j <= 32; ++j)
            converter.BitVal[static_cast<std::size_t>(j)].Value =
                c.Values[static_cast<std::size_t>(j - 1)];
        EXPECT_EQ(TSearch::RankWeakBits(converter), c.Expected);
        EXPECT_EQ(TSearch::RankWeakBits(converter) >> 30, 0u);
    }
}

TEST(TSearchFlipPatterns, PatternMInvertsWeakBitTForEveryBitTSetInM) {
    const auto patterns = TSearch::FlipPatternsOf(Record({7, 1, 2, 3, 4, 30}));
    EXPECT_EQ(patterns[0], 0u);
    EXPECT_EQ(patterns[1], 1u << 7);
    EXPECT_EQ(patterns[2], 1u << 1);
    EXPECT_EQ(patterns[3], (1u << 7) | (1u << 1));
    EXPECT_EQ(patterns[4], 1u << 2);
    EXPECT_EQ(patterns[32], 1u << 30);
    EXPECT_EQ(patterns[63], (1u << 7) | 0x1Eu | (1u << 30));
}

class TSearchLookUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        Keys = SeededKeys(11, 3000);
        Slot = Kit.AddClip("Clip A", Keys);
        Kit.Channel.RingPos = 1000;
    }
    /// The ring heard the clip up to key `position` at the newest slot; then every query key
    /// of the newest 96 but the one at `keep` is made 0.
    void HearOnly(std::int32_t position, std::int32_t keep) {
        Kit.Align(Keys, position, Kit.Channel.RingPos - 1);
        for (std::int32_t offset = -1; offset >= -96; --offset) {
            if (offset != keep)
                Kit.Channel.RingBuffer[static_cast<std::size_t>(Kit.Channel.RingPos + offset)] = 0;
        }
    }

    TSearchKit Kit;
    std::vector<std::uint32_t> Keys;
    std::int32_t Slot = 0;
};

TEST_F(TSearchLookUpTest, AKeyOneWeakBitAwayIsFoundAtThePatternOfThatBit) {
    struct Case {
        std::uint32_t Record;
        std::int64_t Lookups;
    };
    // Bit 13 is the flipped one: as b0 the second lookup (m = 1) finds it, as b5 the 33rd.
    for (const Case& c :
         {Case{Record({13, 1, 2, 3, 4, 5}), 2}, Case{Record({1, 2, 3, 4, 5, 13}), 33},
          Case{Record({1, 13, 2, 3, 4, 5}), 3}}) {
        HearOnly(2000, -3);
        const std::size_t slot = static_cast<std::size_t>(Kit.Channel.RingPos - 3);
        Kit.Channel.RingBuffer[slot] ^= 1u << 13;
        Kit.Channel.LikelihoodRing[slot] = c.Record;
        Kit.Search.LookUp(Kit.Channel);
        EXPECT_EQ(Kit.Search.LastLookups(), c.Lookups);
        ASSERT_GE(Kit.Verifier.Candidates.Count(), 1);
        EXPECT_EQ(Kit.Verifier.Candidates[0].CheckFrom, 1998);
        EXPECT_EQ(Kit.Verifier.Candidates[0].NegativeShift, -3);
    }
}

TEST_F(TSearchLookUpTest, WithoutDeepSearchOnlyEveryThirdKeyIsLookedUp) {
    struct Case {
        bool Deep;
        std::int32_t Keep;
        std::int32_t Candidates;
        std::int64_t Lookups;
    };
    // A heard key at offset -2 is found only with Deep search; at -3 always, at the first try.
    for (const Case& c : {Case{false, -2, 0, 64}, Case{true, -2, 1, 1}, Case{false, -3, 1, 1},
                          Case{true, -3, 1, 1}}) {
        SCOPED_TRACE(testing::Message() << c.Deep << " " << c.Keep);
        Kit.Settings.Form3Checkbox2checked = c.Deep;
        HearOnly(2000, c.Keep);
        Kit.Channel.LikelihoodRing.fill(Record({0, 1, 2, 3, 4, 5}));
        if (c.Keep == -2 && !c.Deep) {
            // Let the one key it does look up (-3) be a key not in the index.
            Kit.Channel.RingBuffer[static_cast<std::size_t>(Kit.Channel.RingPos - 3)] = 0xFFFFFFC0u;
        }
        Kit.Search.LookUp(Kit.Channel);
        // Keys that change slowly also match one or two keys off: count the exact alignment.
        std::int32_t aligned = 0;
        for (const FoundItem& f : Kit.Verifier.Candidates.Items()) {
            aligned += f.CheckFrom == 2001 + c.Keep && f.NegativeShift == c.Keep ? 1 : 0;
        }
        EXPECT_EQ(aligned, c.Candidates);
        EXPECT_EQ(Kit.Search.LastLookups(), c.Lookups);
    }
}

TEST_F(TSearchLookUpTest, Tries64PatternsFor32Or96KeysAndSkipsKeyZero) {
    struct Case {
        bool Deep;
        bool Zero;
        std::int64_t Lookups;
    };
    for (const Case& c : {Case{false, false, 32 * 64}, Case{true, false, 96 * 64},
                          Case{false, true, 0}, Case{true, true, 0}}) {
        Kit.Settings.Form3Checkbox2checked = c.Deep;
        for (std::int32_t offset = -1; offset >= -96; --offset) {
            // Keys no fingerprint has (the clip's keys are odd at the start... so use a pattern
            // whose every variant is absent: top partition, low bits all set).
            Kit.Channel.RingBuffer[static_cast<std::size_t>(Kit.Channel.RingPos + offset)] =
                c.Zero ? 0u : 0xFFFFFFFFu;
            Kit.Channel.LikelihoodRing[static_cast<std::size_t>(Kit.Channel.RingPos + offset)] =
                Record({0, 1, 2, 3, 4, 5});
        }
        Kit.Search.LookUp(Kit.Channel);
        EXPECT_EQ(Kit.Search.LastLookups(), c.Lookups);
        EXPECT_EQ(Kit.Verifier.Candidates.Count(), 0);
    }
}

TEST(TSearchCandidateCap, StopsLookingUpOnce6144CandidatesAreListed) {
    TSearchKit kit;
    // A fingerprint of one repeated key: every lookup returns 4112 entries and each position
    // from 52 on is accepted against a ring of that key.
    const std::vector<std::uint32_t> keys(5000, 0x12345678u);
    kit.AddClip("Drone", keys);
    kit.Channel.RingBuffer.fill(0x12345678u);
    kit.Channel.RingPos = 500;
    kit.Search.LookUp(kit.Channel);
    EXPECT_EQ(kit.Verifier.Candidates.Count(), MaxCandidates);
    EXPECT_EQ(kit.Search.LastLookups(), 2);  // offsets -3 and -6, each found at once
}

TEST(TSearchComputeKeys, SearchesOnEveryThirdBlockOnly) {
    TSearchKit kit;
    const auto music = orvane::test::Music(3, static_cast<std::size_t>(StreamSamples));
    std::copy(music.begin(), music.end(), kit.Channel.StreamData.begin());
    std::vector<bool> due;
    for (int b = 0; b < 6; ++b) {
        kit.Channel.ReadPos.store(b);
        due.push_back(kit.Search.ComputeKeys(kit.Channel));
    }
    EXPECT_EQ(due, (std::vector<bool>{false, false, true, false, false, true}));
    EXPECT_EQ(kit.Channel.RingPos, 6 * 32);
    // Energy: the converter's ETot of the last block / 30, rounded.
    EXPECT_EQ(kit.Converter.Energy,
              static_cast<std::int32_t>(std::nearbyint(kit.Converter.ETot / 30.0)));
    // Every record holds six distinct bit numbers.
    for (std::size_t s = 0; s < 192; ++s) {
        const std::uint32_t r = kit.Channel.LikelihoodRing[s];
        std::uint32_t seen = 0;
        for (int j = 0; j < 6; ++j) seen |= 1u << ((r >> (5 * j)) & 31u);
        EXPECT_EQ(std::popcount(seen), 6) << s;
    }
}

TEST(TSearchComputeKeys, GivesTheSameKeysAsConvertingTheFramesDirectly) {
    TSearchKit kit;
    const auto music = orvane::test::Music(5, static_cast<std::size_t>(StreamSamples));
    std::copy(music.begin(), music.end(), kit.Channel.StreamData.begin());
    kit.Channel.ReadPos.store(41);  // frames wrap around the end of the ring
    kit.Channel.RingPos = 2040;     // keys wrap around the key ring
    kit.Search.ComputeKeys(kit.Channel);
    signal::QnKeyConversion direct;
    for (int i = 1; i <= 32; ++i) {
        const std::uint32_t key = direct.wav2linekeyMod(kit.Channel.StreamData.data(),
                                                        41 * 4096 + 128 * i, StreamSamples);
        EXPECT_EQ(kit.Channel.RingBuffer[static_cast<std::size_t>((2040 + i - 1) % 2048)], key)
            << i;
    }
    EXPECT_EQ(kit.Channel.RingPos, 24);
}

/// Records the keys handed to captures.
class TRecordingCaptures final : public ICaptureKeys {
public:
    void AddKeys(std::int32_t channelId, const std::uint32_t* keys, std::int32_t count) override {
        Calls.push_back({channelId, std::vector<std::uint32_t>(keys, keys + count)});
    }
    struct TCall {
        std::int32_t Channel;
        std::vector<std::uint32_t> Keys;
    };
    std::vector<TCall> Calls;
};

TEST(TSearchComputeKeys, HandsTheNewKeysToCapturesInTwoPiecesWhenTheyWrapAroundTheRing) {
    TSearchKit kit;
    TRecordingCaptures captures;
    kit.Search.Captures = &captures;
    const auto music = orvane::test::Music(8, static_cast<std::size_t>(StreamSamples));
    std::copy(music.begin(), music.end(), kit.Channel.StreamData.begin());
    kit.Channel.RingPos = 2040;
    kit.Search.ComputeKeys(kit.Channel);
    ASSERT_EQ(captures.Calls.size(), 2u);
    EXPECT_EQ(captures.Calls[0].Keys.size(), 8u);
    EXPECT_EQ(captures.Calls[1].Keys.size(), 24u);
    EXPECT_EQ(captures.Calls[0].Keys.front(), kit.Channel.RingBuffer[2040]);
    EXPECT_EQ(captures.Calls[1].Keys.front(), kit.Channel.RingBuffer[0]);
    EXPECT_EQ(captures.Calls[1].Keys.back(), kit.Channel.RingBuffer[23]);
    captures.Calls.clear();
    kit.Search.ComputeKeys(kit.Channel);
    ASSERT_EQ(captures.Calls.size(), 1u);
    EXPECT_EQ(captures.Calls[0].Channel, 0);
    EXPECT_EQ(captures.Calls[0].Keys.size(), 32u);
    EXPECT_EQ(captures.Calls[0].Keys.front(), kit.Channel.RingBuffer[24]);
}

TEST(TSearchProcessBlock, SearchesEveryThirdBlockAndReportsTheEndOfTheAnalysedAudio) {
    TSearchKit kit;
    for (std::int32_t b = 0; b < StreamBlocks; ++b)
        kit.Channel.StreamTime[static_cast<std::size_t>(b)] = 100.0 + b;
    std::vector<std::pair<std::int32_t, tracking::TDateTime>> searches;
    kit.Search.OnSearched = [&](TChannelBasic& channel, tracking::TDateTime end) {
        searches.emplace_back(channel.ReadPos.load(), end);
    };
    for (std::int32_t b = 0; b < 7; ++b) {
        kit.Channel.ReadPos.store(b);
        kit.Search.ProcessBlock(kit.Channel);
    }
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[0], (std::pair<std::int32_t, tracking::TDateTime>{2, 103.0}));
    EXPECT_EQ(searches[1], (std::pair<std::int32_t, tracking::TDateTime>{5, 106.0}));
    // Nothing recognised in quiet noise: the idle tray hint, once per search.
    const auto actions = Actions(kit.Posts());
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(std::get<std::string>(actions[1].Payload), "ORVANE3");
    EXPECT_EQ(kit.Verifier.Candidates.Count(), 0);
}

class TSearchChoiceTest : public ::testing::Test {
protected:
    std::int32_t Clip(const std::string& title, std::int32_t length) {
        return Kit.AddClip(title, SeededKeys(static_cast<std::uint32_t>(length), length));
    }
    void Candidate(std::int32_t slot, float error, std::int32_t checkFrom = 500) {
        FoundItem item;
        item.Error = error;
        item.SongServer = TRefPtr<fingerprint::ISongServer>(&Kit.Song(slot));
        item.CheckFrom = checkFrom;
        item.NegativeShift = -3;
        Kit.Verifier.Candidates.Append(item);
    }
    TSearchKit Kit;
};

TEST_F(TSearchChoiceTest, AgesTheHistoryAndEntersTheBestCandidate) {
    const std::int32_t a = Clip("A", 3000);
    const std::int32_t b = Clip("B", 4000);
    Kit.Channel.FoundItemsList[7].SongServer = TRefPtr<fingerprint::ISongServer>(&Kit.Song(b));
    Kit.Channel.FoundItemsList[0].Error = 9.0f;
    Kit.Channel.FoundItemsList[0].SongServer = TRefPtr<fingerprint::ISongServer>(&Kit.Song(a));
    Candidate(a, 30.0f);
    Candidate(a, 3.5f, 777);
    Candidate(a, 3.5f, 888);
    Kit.Search.Choose(Kit.Channel);
    EXPECT_EQ(Kit.Channel.FoundItemsList[0].Error, 3.5f);
    EXPECT_EQ(Kit.Channel.FoundItemsList[0].CheckFrom, 777);
    EXPECT_EQ(Kit.Channel.FoundItemsList[1].Error, 9.0f);
    EXPECT_FALSE(Kit.Channel.FoundItemsList[7].SongServer);
    EXPECT_EQ(Kit.Verifier.Candidates.Count(), 0);
    EXPECT_TRUE(Kit.Song(a).GetEnabled());  // the same fingerprint is no duplicate of itself
}

TEST_F(TSearchChoiceTest, NoCandidateLeavesTheNewestEntryEmpty) {
    const std::int32_t a = Clip("A", 3000);
    Kit.Channel.FoundItemsList[0].SongServer = TRefPtr<fingerprint::ISongServer>(&Kit.Song(a));
    Kit.Search.Choose(Kit.Channel);
    EXPECT_FALSE(Kit.Channel.FoundItemsList[0].SongServer);
    EXPECT_TRUE(Kit.Channel.FoundItemsList[1].SongServer);
}

TEST_F(TSearchChoiceTest, ARivalWithin14IsDisabledKeepingTheLongestOrShortest) {
    struct Case {
        const char* Name;
        bool KeepLongest;
        float ErrorA;  // A: 3000 keys
        float ErrorB;  // B: 9000 keys
        const char* Kept;
        const char* Disabled;
    };
    for (const Case& c : {Case{"longest", true, 2.0f, 15.5f, "B", "A"},
                          Case{"shortest", false, 2.0f, 15.5f, "A", "B"},
                          Case{"equal errors, longest", true, 5.0f, 5.0f, "B", "A"},
                          Case{"equal errors, shortest", false, 5.0f, 5.0f, "A", "B"}}) {
        SCOPED_TRACE(c.Name);
        TSearchKit kit;
        const std::int32_t a = kit.AddClip("A", SeededKeys(1, 3000));
        const std::int32_t b = kit.AddClip("B", SeededKeys(2, 9000));
        kit.Settings.Form3KeepLongest = c.KeepLongest;
        auto add = [&](std::int32_t slot, float error) {
            FoundItem item;
            item.Error = error;
            item.SongServer = TRefPtr<fingerprint::ISongServer>(&kit.Song(slot));
            item.CheckFrom = 400 + slot;
            kit.Verifier.Candidates.Append(item);
        };
        add(a, c.ErrorA);
        add(b, c.ErrorB);
        add(b, c.ErrorB);  // listed twice: handled once
        kit.Search.Choose(kit.Channel);
        const std::int32_t kept = std::string(c.Kept) == "A" ? a : b;
        const std::int32_t disabled = kept == a ? b : a;
        const FoundItem& entry = kit.Channel.FoundItemsList[0];
        EXPECT_EQ(entry.SongServer.get(), &kit.Song(kept));
        EXPECT_EQ(entry.Error, c.ErrorA);  // the best candidate's numbers stay
        EXPECT_EQ(entry.CheckFrom, 400 + a);
        EXPECT_FALSE(kit.Song(disabled).GetEnabled());
        EXPECT_TRUE(kit.Song(kept).GetEnabled());
        EXPECT_EQ(kit.Song(disabled).getClass()->Tag.get(), &kit.Song(kept));
        const auto posts = kit.Posts();
        const auto entries = Entries(posts);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].Str,
                  std::string("\"") + c.Disabled + "\" disabled: Possible duplicate fingerprint");
        EXPECT_EQ(entries[0].Icon, tracking::TActivityIcon::aiAttention);
        const auto actions = Actions(posts);
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_EQ(actions[0].Code, TActionCode::acDuplicateDisabled);
        EXPECT_EQ(std::get<TRefPtr<TRefCounted>>(actions[0].Payload).get(),
                  static_cast<TRefCounted*>(&kit.Song(disabled)));
        kit.Song(disabled).getClass()->Tag.reset();
    }
}

TEST_F(TSearchChoiceTest, ARivalFurtherThan14AwayStaysEnabled) {
    const std::int32_t a = Clip("A", 3000);
    const std::int32_t b = Clip("B", 9000);
    Candidate(a, 2.0f);
    Candidate(b, 16.0f);
    Kit.Search.Choose(Kit.Channel);
    EXPECT_TRUE(Kit.Song(a).GetEnabled());
    EXPECT_TRUE(Kit.Song(b).GetEnabled());
    EXPECT_TRUE(Entries(Kit.Posts()).empty());
}

class TSearchDecisionTest : public ::testing::Test {
protected:
    void SetUp() override { Slot = Kit.AddClip("Song One", SeededKeys(3, 5000)); }
    void Entry(std::int32_t age, float error, std::int32_t checkFrom = 861,
               std::int32_t shift = -3) {
        FoundItem& e = Kit.Channel.FoundItemsList[static_cast<std::size_t>(age)];
        e.Error = error;
        e.SongServer = TRefPtr<fingerprint::ISongServer>(&Kit.Song(Slot));
        e.CheckFrom = checkFrom;
        e.NegativeShift = shift;
    }
    TSearchKit Kit;
    std::int32_t Slot = 0;
};

TEST_F(TSearchDecisionTest, AgePenaltiesDependOnAssumeHighIntegrity) {
    struct Case {
        bool High;
        std::int32_t Age;
        float Error;
        bool Recognised;
    };
    for (const Case& c :
         {Case{false, 2, 20.0f, true}, Case{true, 2, 20.0f, false}, Case{false, 7, 11.9f, true},
          Case{false, 7, 12.0f, false}, Case{true, 3, 3.9f, true}, Case{true, 4, 0.0f, false},
          Case{false, 0, 39.9f, true}}) {
        SCOPED_TRACE(testing::Message() << c.High << " age " << c.Age << " error " << c.Error);
        Kit.Channel.FoundItemsList.fill(FoundItem{});
        Kit.Settings.Form3highIntegChecked = c.High;
        Entry(c.Age, c.Error);
        Kit.Search.Decide(Kit.Channel, 1.0);
        const auto cap = Kit.Channel.ReadCap();
        EXPECT_EQ(cap.UniqueID != tracking::NoClipID, c.Recognised);
        if (c.Recognised) {
            EXPECT_EQ(Kit.Channel.FoundItemsList[static_cast<std::size_t>(c.Age)].Penalty,
                      static_cast<float>(c.Age) * (c.High ? 12.0f : 4.0f));
        }
        Kit.Posts();
    }
}

TEST_F(TSearchDecisionTest, ARecognisedClipFillsTheClipRecordAndTheIntegrity) {
    Entry(1, 2.0f, 861, -6);
    const tracking::TDateTime end = 45000.25;
    Kit.Search.Decide(Kit.Channel, end);
    const auto cap = Kit.Channel.ReadCap();
    EXPECT_EQ(cap.Caption, "Song One");
    EXPECT_FLOAT_EQ(cap.Pos, static_cast<float>(861 * 128 / 11025.0));
    EXPECT_FLOAT_EQ(cap.length, static_cast<float>(5000 * 128 / 11025.0));
    // shift = -6 - 96 x 1 keys before the end of the data.
    EXPECT_DOUBLE_EQ(cap.TimeStamp, end + (-102) * 128.0 / 11025.0 / 86400.0);
    const std::int64_t uniqueID =
        Kit.Song(Slot).SongFile()->UniqueID;  // a copy: the header is packed
    EXPECT_EQ(cap.UniqueID, uniqueID);
    EXPECT_FALSE(cap.DontRead);
    // (40 - (2 + 4)) / 40 x 100 = 85
    EXPECT_EQ(Kit.Channel.ProgressBarIntegrityPosition.load(), 85);
}

TEST_F(TSearchDecisionTest, IntegrityRoundsHalvesToEven) {
    struct Case {
        float Error;
        std::int32_t Integrity;
    };
    // (40 - e) / 40 x 100: 1 -> 97.5 -> 98; 3 -> 92.5 -> 92; 0.5 -> 98.75 -> 99; 0.25 -> 99.375 ->
    // 99
    for (const Case& c :
         {Case{0.0f, 100}, Case{1.0f, 98}, Case{3.0f, 92}, Case{0.5f, 99}, Case{0.25f, 99}}) {
        Entry(0, c.Error);
        Kit.Search.Decide(Kit.Channel, 1.0);
        EXPECT_EQ(Kit.Channel.ProgressBarIntegrityPosition.load(), c.Integrity) << c.Error;
    }
}

TEST_F(TSearchDecisionTest, AnnouncesOnlyWhenTheClipChangesAndAgainAfterARestart) {
    Kit.Settings.Form1TrayVisible = true;
    Kit.Settings.Form3CheckBoxBalloonChecked = true;
    Entry(0, 1.0f);
    Kit.Search.Decide(Kit.Channel, 1.0);
    auto actions = Actions(Kit.Posts());
    ASSERT_EQ(actions.size(), 3u);
    EXPECT_EQ(actions[0].Code, TActionCode::acTrayHint);
    EXPECT_EQ(std::get<std::string>(actions[0].Payload), "Song One - ORVANE3");
    EXPECT_EQ(actions[1].Code, TActionCode::acShowBalloon);
    EXPECT_EQ(std::get<tracking::TTwoStr>(actions[1].Payload),
              (tracking::TTwoStr{"Now playing on Channel01", "Song One"}));
    EXPECT_EQ(actions[2].Code, TActionCode::acAnnounce);
    EXPECT_EQ(std::get<tracking::TTwoStr>(actions[2].Payload),
              (tracking::TTwoStr{"Song One", "Channel01"}));

    Kit.Search.Decide(Kit.Channel, 2.0);
    actions = Actions(Kit.Posts());
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].Code, TActionCode::acTrayHint);

    // Switching the channel off and on forgets the announced clip.
    Kit.Channel.SetActive(true);
    Kit.Channel.SetActive(false);
    Entry(0, 1.0f);
    Kit.Search.Decide(Kit.Channel, 3.0);
    actions = Actions(Kit.Posts());
    EXPECT_EQ(CountCode(actions, TActionCode::acAnnounce), 1);
}

TEST_F(TSearchDecisionTest, WithoutTheTrayNoBalloonIsShown) {
    Entry(0, 1.0f);
    Kit.Search.Decide(Kit.Channel, 1.0);
    const auto actions = Actions(Kit.Posts());
    EXPECT_EQ(CountCode(actions, TActionCode::acShowBalloon), 0);
    EXPECT_EQ(CountCode(actions, TActionCode::acAnnounce), 1);
}

TEST_F(TSearchDecisionTest, WithTheWindowHiddenAndNoTrayARecognitionChangesNothing) {
    Kit.Settings.Form1Visible = false;
    Kit.Settings.Form1TrayVisible = false;
    Entry(0, 1.0f);
    Kit.Search.Decide(Kit.Channel, 1.0);
    EXPECT_EQ(Kit.Channel.ReadCap(), tracking::capInfo{});
    EXPECT_TRUE(Kit.Posts().empty());
    EXPECT_EQ(Kit.Channel.LastUniqueID.load(), tracking::NoClipID);
}

TEST_F(TSearchDecisionTest, NothingRecognisedClearsTheRecordButKeepsItsTimeStamp) {
    Kit.Settings.Form1TrayVisible = true;
    Kit.Settings.Form3CheckBoxBalloonChecked = true;
    bool hidden = false;
    Kit.Search.BalloonHidden = [&] { return hidden; };
    Entry(0, 1.0f);
    Kit.Search.Decide(Kit.Channel, 1.0);
    const auto stamp = Kit.Channel.ReadCap().TimeStamp;
    const auto announced = Kit.Channel.LastUniqueID.load();
    Kit.Posts();
    Kit.Song(Slot).SetEnabled(false);  // a disabled fingerprint is never chosen
    Kit.Search.Decide(Kit.Channel, 2.0);
    const auto cap = Kit.Channel.ReadCap();
    EXPECT_EQ(cap.Caption, "");
    EXPECT_EQ(cap.UniqueID, tracking::NoClipID);
    EXPECT_EQ(cap.Pos, 0.0f);
    EXPECT_EQ(cap.length, 0.0f);
    EXPECT_EQ(cap.TimeStamp, stamp);
    EXPECT_EQ(Kit.Channel.LastUniqueID.load(), announced);
    EXPECT_EQ(Kit.Channel.ProgressBarIntegrityPosition.load(), 0);
    auto actions = Actions(Kit.Posts());
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(std::get<std::string>(actions[0].Payload), "ORVANE3");
    EXPECT_EQ(actions[1].Code, TActionCode::acHideBalloon);
    hidden = true;
    Kit.Search.Decide(Kit.Channel, 3.0);
    EXPECT_EQ(Actions(Kit.Posts()).size(), 1u);
}

}  // namespace
}  // namespace orvane::recognition::test
