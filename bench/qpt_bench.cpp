// The engine alone, on pairs held in memory: apply into a buffer, create into a file in /dev/shm (or
// /tmp), and the CRC-32. Reports bytes of the larger file per second.
//   qpt_bench [--benchmark_filter=...]

#include "rudd/qpt.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

struct pair {
    bytes source, target, patch;
};

// A random source and a target that differs from it in a fraction of its bytes, in clusters of 1 to 16.
pair make(size_t size, double fraction) {
    std::mt19937_64 random(size ^ uint64_t(fraction * 1e6));
    pair p;
    p.source.resize(size);
    for (auto &b : p.source)
        b = uint8_t(random());
    p.target = p.source;
    if (fraction >= 2) {
        // Every other byte: the most hunks a pair can have, each as short as a hunk can be.
        for (size_t i = 0; i < size; i += 2)
            p.target[i] ^= 0x5A;
    } else if (fraction >= 1) {
        for (auto &b : p.target)
            b ^= 0x5A;
    } else {
        for (size_t changed = 0; changed < size * fraction;) {
            size_t at = random() % (size - 16), length = 1 + random() % 16;
            for (size_t i = at; i < at + length; i++)
                p.target[i] ^= uint8_t(1 + random() % 255);
            changed += length;
        }
    }
    return p;
}

std::string scratch() {
    const char *folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/qpt_bench." + std::to_string(getpid()) + ".qpt";
}

bytes read_file(const std::string &name) {
    bytes data;
    FILE *fp = std::fopen(name.c_str(), "rb");
    if (!fp)
        return data;
    std::fseek(fp, 0, SEEK_END);
    data.resize(size_t(std::ftell(fp)));
    std::fseek(fp, 0, SEEK_SET);
    if (std::fread(data.data(), 1, data.size(), fp) != data.size())
        data.clear();
    std::fclose(fp);
    return data;
}

const pair &fixture(int mib, int per_mille) {
    static pair sparse, dense, alternate;
    pair &p = per_mille >= 2000 ? alternate : per_mille >= 1000 ? dense : sparse;
    size_t size = size_t(mib) << 20;
    if (p.source.size() != size) {
        p = make(size, per_mille / 1000.0);
        rudd::qpt engine;
        std::string name = scratch();
        engine.create(p.source.data(), uint32_t(size), p.target.data(), uint32_t(size), name.c_str());
        p.patch = read_file(name);
        unlink(name.c_str());
    }
    return p;
}

void create(benchmark::State &state) {
    const pair &p = fixture(int(state.range(0)), int(state.range(1)));
    std::string name = scratch();
    for (auto _ : state) {
        rudd::qpt engine;
        auto r = engine.create(p.source.data(), uint32_t(p.source.size()), p.target.data(),
                               uint32_t(p.target.size()), name.c_str());
        if (r != rudd::qpt::result::success)
            state.SkipWithError("create failed");
    }
    unlink(name.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.source.size()));
}

void apply(benchmark::State &state) {
    const pair &p = fixture(int(state.range(0)), int(state.range(1)));
    bytes output(p.target.size());
    for (auto _ : state) {
        rudd::qpt engine;
        uint32_t size = uint32_t(output.size());
        auto r = engine.apply(p.patch.data(), uint32_t(p.patch.size()), p.source.data(),
                              uint32_t(p.source.size()), output.data(), size);
        if (r != rudd::qpt::result::success)
            state.SkipWithError("apply failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.source.size()));
}

void crc32(benchmark::State &state) {
    const pair &p = fixture(64, 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(rudd::qpt::crc32(p.source.data(), uint32_t(p.source.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.source.size()));
}

} // namespace

// 64 MiB pairs: 0.1% of the bytes changed (per mille 1), every byte changed (1000), every other byte
// changed (2000).
BENCHMARK(create)->Args({64, 1})->Args({64, 1000})->Args({64, 2000})->Unit(benchmark::kMillisecond);
BENCHMARK(apply)->Args({64, 1})->Args({64, 1000})->Args({64, 2000})->Unit(benchmark::kMillisecond);
BENCHMARK(crc32)->Unit(benchmark::kMillisecond);
