// Throughput of the de-interleave kernel on one core: one 4 MiB source block per iteration into
// output buffers sized as the engine sizes them, flushes doing nothing, so that only the copy is
// measured. Bytes are source bytes. A byte-at-a-time copy keeping the same counters runs beside
// it as the baseline the kernel replaces.
#include "Deinterleave.h"
#include "MorvexWorker.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr uint32_t kBlock = morvex::kSourceBufferBytes;

struct Bench {
    std::vector<uint8_t> Source;
    std::vector<std::vector<uint8_t>> Buffers;
    std::vector<uint8_t*> Pointers;
    morvex::DeinterleaveLayout Layout;

    Bench(int channels, int bytesPerSample, int perFile) {
        Source.resize(kBlock);
        uint32_t state = 2463534242U;
        for (uint8_t& byte : Source) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = static_cast<uint8_t>(state);
        }
        // As the engine sizes them: its share of 4 MiB, a multiple of 512, at least 64 KiB.
        int size = static_cast<int>(kBlock / static_cast<uint32_t>(channels)) * perFile / 512 * 512;
        size = size < 65536 ? 65536 : size;
        Pointers.assign(morvex::kMaxChannels, nullptr);
        for (int first = 0; first < channels; first += perFile) {
            Buffers.emplace_back(static_cast<size_t>(size));
            Pointers[static_cast<size_t>(first)] = Buffers.back().data();
        }
        Layout = {channels, bytesPerSample, perFile, size, Pointers.data()};
    }
};

bool DiscardFlush(void*, int) {
    return true;
}

void Kernel(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const int bytesPerSample = static_cast<int>(state.range(1));
    const int perFile = state.range(2) == 0 ? channels : static_cast<int>(state.range(2));
    Bench bench(channels, bytesPerSample, perFile);
    for (auto _ : state) {
        morvex::DeinterleaveCursor cursor;
        const bool ok = morvex::DeinterleaveBlock(bench.Layout, cursor, bench.Source.data(), kBlock,
                                                  DiscardFlush, nullptr);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

// The copy the kernel replaces: one byte at a time, the same counters and flushes.
void Bytewise(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const int bytesPerSample = static_cast<int>(state.range(1));
    const int perFile = state.range(2) == 0 ? channels : static_cast<int>(state.range(2));
    Bench bench(channels, bytesPerSample, perFile);
    const int group = perFile * bytesPerSample;
    for (auto _ : state) {
        int destPoint = 0;
        int channelPoint = 0;
        int sampleOffset = 0;
        uint64_t total = 0;
        for (uint32_t i = 0; i < kBlock; ++i) {
            bench.Pointers[static_cast<size_t>(channelPoint)][destPoint + sampleOffset] =
                bench.Source[i];
            if (++sampleOffset < group) {
                continue;
            }
            sampleOffset = 0;
            channelPoint += perFile;
            if (channelPoint < channels) {
                continue;
            }
            channelPoint = 0;
            destPoint += group;
            total += static_cast<uint64_t>(channels * bytesPerSample);
            if (destPoint >= bench.Layout.DestBuffSize - group) {
                destPoint = 0;
            }
        }
        benchmark::DoNotOptimize(total);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

// Arguments: channels, bytes per sample, channels per output file (0: all).
void Cases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"ch", "bytes", "perFile"});
    b->Args({32, 3, 1})->Args({32, 3, 2})->Args({32, 3, 0});
    b->Args({16, 2, 1})->Args({16, 3, 1})->Args({8, 4, 1})->Args({60, 3, 1});
    b->Args({2, 2, 1})->Args({7, 3, 1})->Args({24, 1, 1})->Args({16, 2, 2});
}

// The look for sound in the buffers of silent outputs, 4 MiB of them per iteration and all of it
// read: the most that skipping silent outputs adds per source byte (a buffer with sound is left
// at its first non-zero bytes).
void Silence(benchmark::State& state) {
    const std::vector<uint8_t> silent(kBlock, 0);
    const morvex::SilenceWords words = morvex::SilenceOf(3, false, false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(morvex::HoldsOnlySilence(words, silent.data(), silent.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

// A task converting 12 of 32 channels (24-bit, runs of 4, 2 and 6): the selected samples of one
// 4 MiB block moved to its start, in place. The block is written anew between iterations.
void KeepSelected(benchmark::State& state) {
    Bench bench(32, 3, 1);
    const uint8_t channels[] = {0, 1, 2, 3, 8, 9, 20, 21, 22, 23, 24, 25};
    const morvex::ChannelRuns runs = morvex::RunsOfChannels(channels, 12, 32, 3);
    std::vector<uint8_t> block = bench.Source;
    for (auto _ : state) {
        int phase = 0;
        benchmark::DoNotOptimize(
            morvex::KeepSelectedChannels(runs, block.data(), 0, kBlock, phase));
        state.PauseTiming();
        block = bench.Source;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

BENCHMARK(Silence)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(KeepSelected)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Kernel)->Apply(Cases)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Bytewise)
    ->Args({32, 3, 1})
    ->Args({32, 3, 0})
    ->ArgNames({"ch", "bytes", "perFile"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
