#include "recognition/TChannelBasic.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

#include "ChannelFakes.h"
#include "fingerprint/FptAux.h"

namespace orvane::recognition {
namespace {

using test::BlockOf;
using test::Bytes;
using tracking::NoClipID;
using tracking::TActivityIcon;
using tracking::test::TakeActivities;

class TChannelBasicTest : public ::testing::Test {
protected:
    TChannelBasicTest() : Posting(Queue, Clock) {}

    std::unique_ptr<TChannelBasic> Make(std::int32_t side = 0) {
        return std::make_unique<TChannelBasic>(0, side, "Channel01", Lock, Posting);
    }
    /// A block of 4096 samples all equal to `value`.
    static std::vector<std::uint8_t> Flat(std::int16_t value) {
        return Bytes(std::vector<std::int16_t>(BlockSamples, value));
    }

    tracking::TQueuePoster Queue;
    tracking::test::TFakeClock Clock;
    tracking::TPosting Posting;
    TRecognitionLock Lock;
};

TEST_F(TChannelBasicTest, StartsOffWithClearedRingsAndNoClip) {
    auto channel = Make();
    EXPECT_FALSE(channel->Active());
    EXPECT_EQ(channel->WritePos.load(), 1);
    EXPECT_EQ(channel->ReadPos.load(), 0);
    EXPECT_EQ(channel->UpdateI, 0);
    EXPECT_EQ(channel->ReadCap().UniqueID, NoClipID);
    EXPECT_EQ(channel->LastUniqueID.load(), NoClipID);
    EXPECT_EQ(channel->SoundDevice.DevNo, 0xFFFFFFFFu);
    EXPECT_TRUE(channel->SoundDevice.DevName.empty());
    EXPECT_EQ(channel->Caption(), "Channel01");
    for (const FoundItem& item : channel->FoundItemsList) EXPECT_FALSE(item.SongServer);
    // Quiet noise in the stream ring.
    for (std::int16_t s : channel->StreamData) {
        ASSERT_GE(s, -128);
        ASSERT_LE(s, 127);
    }
}

TEST_F(TChannelBasicTest, AcceptsABlockWith27WaitingAndRefusesOneWith28) {
    auto channel = Make();
    for (int i = 0; i < 26; ++i) ASSERT_TRUE(channel->newData(Flat(1).data(), 8192));
    ASSERT_EQ(channel->WaitingBlocks(), 27);
    EXPECT_TRUE(channel->newData(Flat(2).data(), 8192));
    ASSERT_EQ(channel->WaitingBlocks(), 28);

    const auto before = channel->StreamData;
    EXPECT_FALSE(channel->newData(Flat(3).data(), 8192));
    EXPECT_EQ(channel->WaitingBlocks(), 28);
    EXPECT_EQ(channel->WritePos.load(), 28);
    EXPECT_TRUE(channel->StreamData == before);  // nothing written
}

TEST_F(TChannelBasicTest, TheRingLimitHoldsAcrossTheWrap) {
    auto channel = Make();
    test::TRecordingSearch search;
    for (int round = 0; round < 5; ++round) {
        while (channel->newData(Flat(static_cast<std::int16_t>(round)).data(), 8192)) {
        }
        EXPECT_EQ(channel->WaitingBlocks(), 28);
        for (int i = 0; i < 20; ++i) channel->ProcessNewWavDataAndSearch(search);
    }
    EXPECT_EQ(search.Blocks.size(), 100u);
    EXPECT_EQ(search.Blocks[42], 0);  // ReadPos wrapped
}

TEST_F(TChannelBasicTest, AnOverrunIsReportedAndKeepsOnlyTheNewestBuffer) {
    auto channel = Make();
    while (channel->newData(Flat(1).data(), 8192)) {
    }
    EXPECT_TRUE(channel->BufferFilled(Flat(7).data(), 8192));
    const auto entries = TakeActivities(Queue);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Str, "Channel01: Buffer overrun");
    EXPECT_EQ(entries[0].Icon, TActivityIcon::aiError);
    EXPECT_EQ(channel->ReadPos.load(), 0);
    EXPECT_EQ(channel->WritePos.load(), 2);
    EXPECT_EQ(BlockOf(*channel, 1), std::vector<std::int16_t>(BlockSamples, 7));
}

TEST_F(TChannelBasicTest, AnOverrunWhilePausedPostsNothing) {
    auto channel = Make();
    while (channel->newData(Flat(1).data(), 8192)) {
    }
    Lock.PauseAcknowledged.store(true);
    EXPECT_TRUE(channel->BufferFilled(Flat(7).data(), 8192));
    EXPECT_EQ(Queue.Count(), 0u);
    // Only the newest buffer waits behind the noise block: one block may be processed.
    EXPECT_EQ(channel->WritePos.load(), 2);
    EXPECT_EQ(channel->ReadPos.load(), 0);
    EXPECT_EQ(BlockOf(*channel, 1), std::vector<std::int16_t>(BlockSamples, 7));
}

TEST_F(TChannelBasicTest, CompatibilityAveragesPairsTruncatingTowardZero) {
    struct TCase {
        std::int16_t A, B, Mean;
    };
    const TCase cases[] = {
        {3, 4, 3},  {-3, -4, -3},       {32767, 32767, 32767}, {-32768, -32768, -32768},
        {1, -2, 0}, {-32768, 32767, 0},
    };
    auto channel = Make();
    channel->SetCompatibility(true);
    std::vector<std::int16_t> input;
    for (const TCase& c : cases) {
        input.push_back(c.A);
        input.push_back(c.B);
    }
    const auto bytes = Bytes(input);
    ASSERT_TRUE(channel->newData(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    const auto block = BlockOf(*channel, 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(block[i], cases[i].Mean) << cases[i].A << ", " << cases[i].B;
    }
    EXPECT_EQ(block[std::size(cases)], 0);  // the rest of a short buffer is silence
}

TEST_F(TChannelBasicTest, EachSideTakesItsSamplesOfAStereoBuffer) {
    // Frames (L, R): (10, 11), (20, 21), (30, 31), (40, 41).
    const std::vector<std::int16_t> stereo{10, 11, 20, 21, 30, 31, 40, 41};
    struct TCase {
        std::int32_t Side;
        bool Compatible;
        std::vector<std::int16_t> Expected;
    };
    const TCase cases[] = {
        {0, false, {10, 11, 20, 21, 30, 31, 40, 41}},
        {1, false, {10, 20, 30, 40}},
        {2, false, {11, 21, 31, 41}},
        {0, true, {10, 20, 30, 40}},
        {1, true, {15, 35}},
        {2, true, {16, 36}},
    };
    const auto bytes = Bytes(stereo);
    for (const TCase& c : cases) {
        auto channel = Make(c.Side);
        channel->SetCompatibility(c.Compatible);
        ASSERT_TRUE(channel->newData(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
        const auto block = BlockOf(*channel, 1);
        const std::vector<std::int16_t> head(block.begin(), block.begin() + c.Expected.size());
        EXPECT_EQ(head, c.Expected) << "side " << c.Side << " compatible " << c.Compatible;
        EXPECT_EQ(block[c.Expected.size()], 0);
    }
}

TEST_F(TChannelBasicTest, ABufferLongerThanABlockIsCutToOneBlock) {
    auto channel = Make();
    std::vector<std::int16_t> samples(2 * BlockSamples, 9);
    const auto bytes = Bytes(samples);
    ASSERT_TRUE(channel->newData(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    EXPECT_EQ(BlockOf(*channel, 1), std::vector<std::int16_t>(BlockSamples, 9));
    EXPECT_EQ(channel->WritePos.load(), 2);
    EXPECT_NE(BlockOf(*channel, 2), std::vector<std::int16_t>(BlockSamples, 9));
}

TEST_F(TChannelBasicTest, StampsEachBlockWithTheCurrentTime) {
    auto channel = Make();
    Clock.SetNow(45000.25);
    ASSERT_TRUE(channel->newData(Flat(1).data(), 8192));
    EXPECT_EQ(channel->StreamTime[1], 45000.25);
    EXPECT_TRUE(channel->newDataAvailable.load());
}

TEST_F(TChannelBasicTest, ClearDataEmptiesHistoryAndRecordButKeepsTheKeySlot) {
    auto channel = Make();
    auto song = MakeRef<fingerprint::TSongServer>();
    channel->FoundItemsList[0].SongServer = TRefPtr<fingerprint::ISongServer>(song.get());
    channel->FoundItemsList[3].SongServer = TRefPtr<fingerprint::ISongServer>(song.get());
    EXPECT_EQ(song->RefCount(), 3);
    tracking::capInfo record;
    record.Caption = "Song";
    record.UniqueID = 1024;
    record.Pos = 12.5f;
    channel->WriteCap(record);
    channel->RingPos = 77;
    channel->UpdateI = 2;
    channel->LastUniqueID.store(1024);
    channel->LikelihoodRing[5] = 123;
    channel->E_Copy[3] = 1.5f;
    ASSERT_TRUE(channel->newData(Flat(1).data(), 8192));

    channel->clearData();
    EXPECT_EQ(song->RefCount(), 1);
    for (const FoundItem& item : channel->FoundItemsList) EXPECT_FALSE(item.SongServer);
    EXPECT_EQ(channel->ReadCap().UniqueID, NoClipID);
    EXPECT_TRUE(channel->ReadCap().Caption.empty());
    EXPECT_EQ(channel->LastUniqueID.load(), NoClipID);
    EXPECT_EQ(channel->RingPos, 77);
    EXPECT_EQ(channel->UpdateI, 0);
    EXPECT_EQ(channel->WritePos.load(), 1);
    EXPECT_EQ(channel->ReadPos.load(), 0);
    EXPECT_EQ(channel->LikelihoodRing[5], 0u);
    EXPECT_EQ(channel->E_Copy[3], 0.0f);
}

TEST_F(TChannelBasicTest, ProcessesEveryWaitingBlockButTheLast) {
    auto channel = Make();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(channel->newData(Flat(1).data(), 8192));
    ASSERT_EQ(channel->WritePos.load(), 4);
    test::TRecordingSearch search;
    EXPECT_EQ(channel->ProcessWaitingBlocks(search), 3);
    EXPECT_EQ(search.Blocks, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(channel->ReadPos.load(), 3);
    EXPECT_FALSE(channel->newDataAvailable.load());
    EXPECT_EQ(channel->ProcessWaitingBlocks(search), 0);
}

TEST_F(TChannelBasicTest, AFailingBlockStillAdvancesReadPos) {
    auto channel = Make();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(channel->newData(Flat(1).data(), 8192));
    test::TRecordingSearch search;
    search.OnBlock = [](TChannelBasic&) { throw std::runtime_error("bad block"); };
    EXPECT_EQ(channel->ProcessWaitingBlocks(search), 3);
    EXPECT_EQ(channel->ReadPos.load(), 3);
}

TEST_F(TChannelBasicTest, KeepsTheConvertersSpectrumPerChannel) {
    auto channel = Make();
    signal::QnKeyConversion converter;
    converter.E[10] = 4.0f;
    channel->SaveSpectrum(converter);
    converter.E[10] = 0.0f;
    channel->LoadSpectrum(converter);
    EXPECT_EQ(converter.E[10], 4.0f);
}

TEST_F(TChannelBasicTest, RefusesAnUnknownSide) { EXPECT_THROW(Make(3), EInvalidOperation); }

}  // namespace
}  // namespace orvane::recognition
