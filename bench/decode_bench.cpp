// Decoding and packing speed on the sample payload set, beside the
// byte-at-a-time reference decoder, a plain memcpy of the decoded bytes, and
// LZ4 and zlib on the same inputs. Before the timings it prints what each
// compressor makes of the set.
//
//   quellstorm-bench [--samples=DIR] [Google Benchmark flags]
//
// DIR holds the inputs as quellstorm-samples writes them (manifest.txt and
// NAME.in per payload); the build makes them next to this program.

#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/reference_decode.h"
#include "payload/decode.h"
#include "tools/pack/packer.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Sample {
    std::string name;
    Bytes input;
    Bytes packed; // our stream
    Bytes lz4;    // an LZ4 block, HC level 12
    Bytes zlib;   // a zlib stream, level 9
};

// The set as the updater installs it: the executable first, then the scripts.
std::vector<Sample> Samples;

// The updater's decode buffer.
constexpr int32_t Capacity = int32_t(PackMaxInput);

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "quellstorm-bench: %s\n", what.c_str());
    std::exit(1);
}

void LoadSamples(const std::string& directory) {
    std::ifstream manifest(directory + "/manifest.txt");
    std::string name;
    long long timestamp = 0;
    while (manifest >> name >> timestamp) {
        Sample sample;
        sample.name = name;
        sample.input = ReadFile(directory + "/" + name + ".in");
        Samples.push_back(std::move(sample));
    }
    if (Samples.empty()) {
        Fail("no samples in " + directory + " (manifest.txt and NAME.in files)");
    }
}

// Compresses every sample three ways and checks that each decoder gives the
// input back, so that the timings below are of correct work.
void PrepareSamples() {
    Bytes out(PackMaxInput);
    for (Sample& s : Samples) {
        s.packed = PackStream(s.input.data(), s.input.size());

        s.lz4.resize(size_t(LZ4_compressBound(int(s.input.size()))));
        int lz4_size = LZ4_compress_HC(reinterpret_cast<const char*>(s.input.data()), reinterpret_cast<char*>(s.lz4.data()),
                                       int(s.input.size()), int(s.lz4.size()), LZ4HC_CLEVEL_MAX);
        s.lz4.resize(size_t(lz4_size));

        uLongf zlib_size = compressBound(uLong(s.input.size()));
        s.zlib.resize(zlib_size);
        if (compress2(s.zlib.data(), &zlib_size, s.input.data(), uLong(s.input.size()), 9) != Z_OK) {
            Fail(s.name + ": zlib refused it");
        }
        s.zlib.resize(zlib_size);

        auto same = [&s, &out](long long produced) {
            return produced == (long long)s.input.size() && std::memcmp(out.data(), s.input.data(), s.input.size()) == 0;
        };
        if (!same(DecodePayload(out.data(), Capacity, s.packed.data(), int32_t(s.packed.size())))) {
            Fail(s.name + ": DecodePayload does not give the input back");
        }
        if (!same(ReferenceDecodePayload(out.data(), Capacity, s.packed.data(), int32_t(s.packed.size())))) {
            Fail(s.name + ": the reference decoder does not give the input back");
        }
        if (!same(LZ4_decompress_safe(reinterpret_cast<const char*>(s.lz4.data()), reinterpret_cast<char*>(out.data()),
                                      int(s.lz4.size()), Capacity))) {
            Fail(s.name + ": LZ4 does not give the input back");
        }
        uLongf unpacked = uLongf(Capacity);
        if (uncompress(out.data(), &unpacked, s.zlib.data(), uLong(s.zlib.size())) != Z_OK || !same((long long)unpacked)) {
            Fail(s.name + ": zlib does not give the input back");
        }
    }
}

struct Totals {
    size_t input = 0, packed = 0, lz4 = 0, zlib = 0;
};

void PrintRatioRow(const char* label, const Totals& t) {
    std::printf("%-22s %9zu %9zu %6.2f%% %9zu %9zu %10.3f %10.3f\n", label, t.input, t.packed,
                100.0 * double(t.packed) / double(t.input), t.zlib, t.lz4, double(t.packed) / double(t.zlib),
                double(t.packed) / double(t.lz4));
}

void PrintRatios() {
    Totals executable, scripts, all;
    for (size_t i = 0; i < Samples.size(); ++i) {
        const Sample& s = Samples[i];
        for (Totals* t : {i == 0 ? &executable : &scripts, &all}) {
            t->input += s.input.size();
            t->packed += s.packed.size();
            t->lz4 += s.lz4.size();
            t->zlib += s.zlib.size();
        }
    }
    std::printf("Compressed sizes in bytes (streams only, no headers or frames)\n");
    std::printf("%-22s %9s %9s %7s %9s %9s %10s %10s\n", "set", "input", "packer", "ratio", "zlib -9", "LZ4 HC 12",
                "vs zlib", "vs LZ4 HC");
    PrintRatioRow(("executable " + Samples[0].name).c_str(), executable);
    PrintRatioRow(("scripts (" + std::to_string(Samples.size() - 1) + " files)").c_str(), scripts);
    PrintRatioRow("all", all);

    // One timed pass of the packer over the executable, for the record; the
    // benchmark below measures it properly.
    auto start = std::chrono::steady_clock::now();
    Bytes stream = PackStream(Samples[0].input.data(), Samples[0].input.size());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("packing the executable once: %.3f s (%zu -> %zu bytes)\n\n", seconds, Samples[0].input.size(),
                stream.size());
    std::fflush(stdout);
}

// Which samples a benchmark runs over: the whole set or the executable alone.
enum SampleSet { AllSamples, ExecutableOnly };

size_t SetEnd(SampleSet set) {
    return set == ExecutableOnly ? 1 : Samples.size();
}

int64_t DecodedBytes(SampleSet set) {
    int64_t total = 0;
    for (size_t i = 0; i < SetEnd(set); ++i) {
        total += int64_t(Samples[i].input.size());
    }
    return total;
}

// Runs `decode(sample, output)` over the set; throughput counts decoded bytes.
template <typename Decode>
void RunDecoder(benchmark::State& state, SampleSet set, Decode decode) {
    Bytes out(PackMaxInput);
    for (auto _ : state) {
        for (size_t i = 0; i < SetEnd(set); ++i) {
            benchmark::DoNotOptimize(decode(Samples[i], out.data()));
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * DecodedBytes(set));
}

void BM_DecodePayload(benchmark::State& state, SampleSet set) {
    RunDecoder(state, set, [](const Sample& s, uint8_t* out) {
        return DecodePayload(out, Capacity, s.packed.data(), int32_t(s.packed.size()));
    });
}

void BM_ReferenceDecode(benchmark::State& state, SampleSet set) {
    RunDecoder(state, set, [](const Sample& s, uint8_t* out) {
        return ReferenceDecodePayload(out, Capacity, s.packed.data(), int32_t(s.packed.size()));
    });
}

void BM_Memcpy(benchmark::State& state, SampleSet set) {
    RunDecoder(state, set, [](const Sample& s, uint8_t* out) {
        std::memcpy(out, s.input.data(), s.input.size());
        return out[0];
    });
}

void BM_Lz4Decompress(benchmark::State& state, SampleSet set) {
    RunDecoder(state, set, [](const Sample& s, uint8_t* out) {
        return LZ4_decompress_safe(reinterpret_cast<const char*>(s.lz4.data()), reinterpret_cast<char*>(out),
                                   int(s.lz4.size()), Capacity);
    });
}

void BM_ZlibUncompress(benchmark::State& state, SampleSet set) {
    RunDecoder(state, set, [](const Sample& s, uint8_t* out) {
        uLongf size = uLongf(Capacity);
        return uncompress(out, &size, s.zlib.data(), uLong(s.zlib.size()));
    });
}

// Throughput counts input bytes packed.
void BM_Pack(benchmark::State& state, SampleSet set) {
    for (auto _ : state) {
        for (size_t i = 0; i < SetEnd(set); ++i) {
            benchmark::DoNotOptimize(PackStream(Samples[i].input.data(), Samples[i].input.size()));
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * DecodedBytes(set));
}

void RegisterBenchmarks() {
    struct Entry {
        const char* name;
        void (*run)(benchmark::State&, SampleSet);
    };
    const Entry decoders[] = {
        {"DecodePayload", BM_DecodePayload}, {"ReferenceDecode", BM_ReferenceDecode}, {"Memcpy", BM_Memcpy},
        {"Lz4Decompress", BM_Lz4Decompress}, {"ZlibUncompress", BM_ZlibUncompress},
    };
    for (SampleSet set : {AllSamples, ExecutableOnly}) {
        const char* suffix = set == AllSamples ? "/all" : "/executable";
        for (const Entry& e : decoders) {
            benchmark::RegisterBenchmark((std::string(e.name) + suffix).c_str(), e.run, set);
        }
        benchmark::RegisterBenchmark((std::string("Pack") + suffix).c_str(), BM_Pack, set)
            ->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string directory = QUELLSTORM_BENCH_SAMPLES;
    const char* const flag = "--samples=";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) {
            directory = argv[i] + std::strlen(flag);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;

    LoadSamples(directory);
    PrepareSamples();
    PrintRatios();
    RegisterBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
