// quellstorm-samples: makes the inputs of the sample payload set.
//
//   quellstorm-samples OUT_DIR
//
// Writes one input file per payload of the update plan, OUT_DIR/<NAME>.in,
// and OUT_DIR/manifest.txt with a line "<NAME> <TIMESTAMP>" for each, NAME
// being the payload's upper-case store name. The build packs every input into
// the record of that name with that time. The inputs are shaped like the real
// update: a 483,328-byte PE image for the executable and Shift-JIS scenario
// scripts with CRLF line ends from 189 bytes to about 120 KB; the times run
// from 2001-02-02 07:52:04 UTC to 2001-04-11 18:42:14 UTC. Everything follows
// from the payload names through a fixed generator, so every run on every
// machine makes the same bytes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/update_plan.h"

namespace {

constexpr int32_t EarliestTime = 981100324; // 2001-02-02 07:52:04 UTC
constexpr int32_t LatestTime = 987014534;   // 2001-04-11 18:42:14 UTC
constexpr size_t ExecutableSize = 483328;
constexpr size_t SmallestScriptSize = 189;
constexpr size_t LargestScriptSize = 119872;

// splitmix64: small, fixed, and the same everywhere.
struct Random {
    uint64_t state;
};

uint64_t Next(Random* random) {
    uint64_t z = (random->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t Below(Random* random, uint32_t limit) { return uint32_t(Next(random) % limit); }

Random SeedFromName(const std::string& name) {
    uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a
    for (const char c : name) hash = (hash ^ uint8_t(c)) * 0x100000001B3ull;
    return Random{hash};
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

using Bytes = std::vector<uint8_t>;

void Put(Bytes* out, const std::string& text) { out->insert(out->end(), text.begin(), text.end()); }

void PutAt(Bytes* out, size_t offset, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) (*out)[offset + size_t(i)] = uint8_t(value >> (8 * i));
}

// Dialogue and speakers in Shift-JIS, as the game's scripts hold them.
const char* const DialogueLines[] = {
    "\x82\xA8\x82\xCD\x82\xE6\x82\xA4\x81\x42\x8D\xA1\x93\xFA\x82\xE0\x82\xA2\x82\xA2\x93\x56\x8B\x43\x82\xBE\x82\xCB\x81\x42", // おはよう。今日もいい天気だね。
    "\x82\xBF\x82\xE5\x82\xC1\x82\xC6\x91\xD2\x82\xC1\x82\xC4\x81\x49\x82\xC7\x82\xB1\x82\xD6\x8D\x73\x82\xAD\x82\xCC\x81\x48", // ちょっと待って！どこへ行くの？
    "\x82\xBB\x82\xF1\x82\xC8\x82\xB1\x82\xC6\x81\x41\x8C\xBE\x82\xED\x82\xEA\x82\xC8\x82\xAD\x82\xC4\x82\xE0\x95\xAA\x82\xA9\x82\xC1\x82\xC4\x82\xE9\x81\x42", // そんなこと、言われなくても分かってる。
    "\x82\xA0\x82\xE8\x82\xAA\x82\xC6\x82\xA4\x81\x42\x96\x7B\x93\x96\x82\xC9\x8F\x95\x82\xA9\x82\xC1\x82\xBD\x82\xE6\x81\x42", // ありがとう。本当に助かったよ。
    "\x82\xA0\x82\xCC\x93\xFA\x82\xCC\x82\xB1\x82\xC6\x81\x41\x82\xDC\x82\xBE\x8A\x6F\x82\xA6\x82\xC4\x82\xE9\x81\x48", // あの日のこと、まだ覚えてる？
    "\x90\xC3\x82\xA9\x82\xC9\x81\x63\x81\x63\x92\x4E\x82\xA9\x97\x88\x82\xE9\x81\x42", // 静かに……誰か来る。
    "\x91\xE5\x8F\xE4\x95\x76\x81\x41\x8E\x84\x82\xAA\x82\xC2\x82\xA2\x82\xC4\x82\xE9\x82\xA9\x82\xE7\x81\x42", // 大丈夫、私がついてるから。
    "\x96\xF1\x91\xA9\x82\xBE\x82\xE6\x81\x42\x90\xE2\x91\xCE\x82\xC9\x96\x59\x82\xEA\x82\xC8\x82\xA2\x82\xC5\x81\x42", // 約束だよ。絶対に忘れないで。
    "\x82\xA6\x81\x48\x81\x40\x8D\xA1\x82\xC8\x82\xF1\x82\xC4\x8C\xBE\x82\xC1\x82\xBD\x82\xCC\x81\x48", // え？　今なんて言ったの？
    "\x95\x97\x82\xAA\x97\xE2\x82\xBD\x82\xAD\x82\xC8\x82\xC1\x82\xC4\x82\xAB\x82\xBD\x82\xCB\x81\x42", // 風が冷たくなってきたね。
    "\x82\xE0\x82\xA4\x8F\xAD\x82\xB5\x82\xBE\x82\xAF\x81\x41\x82\xB1\x82\xB1\x82\xC9\x82\xA2\x82\xC4\x82\xE0\x82\xA2\x82\xA2\x81\x48", // もう少しだけ、ここにいてもいい？
    "\x90\xE6\x90\xB6\x82\xAA\x8C\xC4\x82\xF1\x82\xC5\x82\xBD\x82\xE6\x81\x42\x91\x81\x82\xAD\x8D\x73\x82\xC1\x82\xBD\x82\xD9\x82\xA4\x82\xAA\x82\xA2\x82\xA2\x81\x42", // 先生が呼んでたよ。早く行ったほうがいい。
    "\x82\xB1\x82\xCC\x93\xB9\x82\xF0\x82\xDC\x82\xC1\x82\xB7\x82\xAE\x8D\x73\x82\xAF\x82\xCE\x81\x41\x89\x77\x82\xC9\x92\x85\x82\xAD\x82\xCD\x82\xB8\x82\xBE\x81\x42", // この道をまっすぐ行けば、駅に着くはずだ。
    "\x82\xD3\x82\xD3\x82\xC1\x81\x41\x95\xCF\x82\xC8\x8A\xE7\x81\x42", // ふふっ、変な顔。
    "\x89\x4A\x82\xAA\x8D\x7E\x82\xE8\x82\xBB\x82\xA4\x82\xBE\x82\xA9\x82\xE7\x81\x41\x8E\x50\x82\xF0\x8E\x9D\x82\xC1\x82\xC4\x82\xA2\x82\xB1\x82\xA4\x81\x42", // 雨が降りそうだから、傘を持っていこう。
    "\x82\xBB\x82\xEA\x82\xB6\x82\xE1\x82\xA0\x81\x41\x82\xDC\x82\xBD\x96\xBE\x93\xFA\x81\x42", // それじゃあ、また明日。
    "\x91\x8B\x82\xCC\x8A\x4F\x82\xC5\x82\xCD\x81\x41\x8D\xF7\x82\xCC\x89\xD4\x82\xD1\x82\xE7\x82\xAA\x90\xC3\x82\xA9\x82\xC9\x95\x91\x82\xC1\x82\xC4\x82\xA2\x82\xBD\x81\x42", // 窓の外では、桜の花びらが静かに舞っていた。
    "\x96\x6C\x82\xCD\x89\xBD\x82\xE0\x8C\xBE\x82\xA6\x82\xB8\x82\xC9\x81\x41\x82\xBD\x82\xBE\x97\xA7\x82\xBF\x90\x73\x82\xAD\x82\xB5\x82\xC4\x82\xA2\x82\xBD\x81\x42", // 僕は何も言えずに、ただ立ち尽くしていた。
    "\x89\x93\x82\xAD\x82\xC5\x8F\xE0\x82\xCC\x89\xB9\x82\xAA\x95\xB7\x82\xB1\x82\xA6\x82\xE9\x81\x42", // 遠くで鐘の音が聞こえる。
    "\x94\xDE\x8F\x97\x82\xCD\x8F\xAC\x82\xB3\x82\xAD\x82\xA4\x82\xC8\x82\xB8\x82\xA2\x82\xC4\x81\x41\x8F\xCE\x82\xC1\x82\xBD\x81\x42", // 彼女は小さくうなずいて、笑った。
};

const char* const Speakers[] = {
    "\x83\x86\x83\x45\x83\x4C", // ユウキ
    "\x83\x7E\x83\x54\x83\x4C", // ミサキ
    "\x90\xE6\x90\xB6", // 先生
    "\x83\x41\x83\x84", // アヤ
    "\x83\x4A\x83\x69\x83\x5E", // カナタ
    "\x83\x6E\x83\x8B\x83\x4A", // ハルカ
};

// Words from which the scripts' own sentences are made, Shift-JIS.
// 私 僕 彼女 先生 空 海 桜 雨 風 町 学校 図書館 駅 夢 約束 手紙 時間 答え 猫 窓 道 星 記憶 声 朝 夜 教室 屋上 花火 写真 名前 季節
const char* const Nouns[] = {
    "\x8E\x84", "\x96\x6C", "\x94\xDE\x8F\x97", "\x90\xE6\x90\xB6", "\x8B\xF3", "\x8A\x43", "\x8D\xF7",
    "\x89\x4A", "\x95\x97", "\x92\xAC", "\x8A\x77\x8D\x5A", "\x90\x7D\x8F\x91\x8A\xD9", "\x89\x77",
    "\x96\xB2", "\x96\xF1\x91\xA9", "\x8E\xE8\x8E\x86", "\x8E\x9E\x8A\xD4", "\x93\x9A\x82\xA6", "\x94\x4C",
    "\x91\x8B", "\x93\xB9", "\x90\xAF", "\x8B\x4C\x89\xAF", "\x90\xBA", "\x92\xA9", "\x96\xE9",
    "\x8B\xB3\x8E\xBA", "\x89\xAE\x8F\xE3", "\x89\xD4\x89\xCE", "\x8E\xCA\x90\x5E", "\x96\xBC\x91\x4F",
    "\x8B\x47\x90\xDF",
};
// は が を に で と も へ の
const char* const Particles[] = {
    "\x82\xCD", "\x82\xAA", "\x82\xF0", "\x82\xC9", "\x82\xC5", "\x82\xC6", "\x82\xE0", "\x82\xD6",
    "\x82\xCC",
};
// 少し ずっと もう まだ きっと 静かに ゆっくり 突然 本当に いつも 今日も 遠くで
const char* const Adverbs[] = {
    "\x8F\xAD\x82\xB5", "\x82\xB8\x82\xC1\x82\xC6", "\x82\xE0\x82\xA4", "\x82\xDC\x82\xBE",
    "\x82\xAB\x82\xC1\x82\xC6", "\x90\xC3\x82\xA9\x82\xC9", "\x82\xE4\x82\xC1\x82\xAD\x82\xE8",
    "\x93\xCB\x91\x52", "\x96\x7B\x93\x96\x82\xC9", "\x82\xA2\x82\xC2\x82\xE0", "\x8D\xA1\x93\xFA\x82\xE0",
    "\x89\x93\x82\xAD\x82\xC5",
};
// 見ている 待っていた 忘れない 覚えている 探している 聞こえた 光っていた 始まる 終わった 変わらない 笑った 走り出した 消えていく 届かない 知っている 揺れていた
const char* const Verbs[] = {
    "\x8C\xA9\x82\xC4\x82\xA2\x82\xE9", "\x91\xD2\x82\xC1\x82\xC4\x82\xA2\x82\xBD",
    "\x96\x59\x82\xEA\x82\xC8\x82\xA2", "\x8A\x6F\x82\xA6\x82\xC4\x82\xA2\x82\xE9",
    "\x92\x54\x82\xB5\x82\xC4\x82\xA2\x82\xE9", "\x95\xB7\x82\xB1\x82\xA6\x82\xBD",
    "\x8C\xF5\x82\xC1\x82\xC4\x82\xA2\x82\xBD", "\x8E\x6E\x82\xDC\x82\xE9",
    "\x8F\x49\x82\xED\x82\xC1\x82\xBD", "\x95\xCF\x82\xED\x82\xE7\x82\xC8\x82\xA2",
    "\x8F\xCE\x82\xC1\x82\xBD", "\x91\x96\x82\xE8\x8F\x6F\x82\xB5\x82\xBD",
    "\x8F\xC1\x82\xA6\x82\xC4\x82\xA2\x82\xAD", "\x93\xCD\x82\xA9\x82\xC8\x82\xA2",
    "\x92\x6D\x82\xC1\x82\xC4\x82\xA2\x82\xE9", "\x97\x68\x82\xEA\x82\xC4\x82\xA2\x82\xBD",
};
// 。 ね。 よ。 のかな。 ……。 んだ。 ！ ？ と思う。 みたいだ。
const char* const Endings[] = {
    "\x81\x42", "\x82\xCB\x81\x42", "\x82\xE6\x81\x42", "\x82\xCC\x82\xA9\x82\xC8\x81\x42",
    "\x81\x63\x81\x63\x81\x42", "\x82\xF1\x82\xBE\x81\x42", "\x81\x49", "\x81\x48",
    "\x82\xC6\x8E\x76\x82\xA4\x81\x42", "\x82\xDD\x82\xBD\x82\xA2\x82\xBE\x81\x42",
};

const char OpenName[] = "\x81\x79";   // 【
const char CloseName[] = "\x81\x7A";  // 】
const char OpenQuote[] = "\x81\x75";  // 「
const char CloseQuote[] = "\x81\x76"; // 」

template <size_t N> const char* Pick(Random* random, const char* const (&table)[N]) {
    return table[Below(random, uint32_t(N))];
}

// A sentence of one or two clauses made from the word tables, so that the
// scripts repeat themselves about as little as written dialogue does.
std::string Sentence(Random* random) {
    std::string sentence;
    const uint32_t clauses = 1 + Below(random, 2);
    for (uint32_t clause = 0; clause < clauses; ++clause) {
        if (clause > 0) sentence += "\x81\x41"; // 、
        if (Below(random, 3) == 0) sentence += Pick(random, Adverbs);
        sentence += Pick(random, Nouns);
        sentence += Pick(random, Particles);
        if (Below(random, 2) == 0) {
            sentence += Pick(random, Nouns);
            sentence += Pick(random, Particles);
        }
        sentence += Pick(random, Verbs);
    }
    return sentence + Pick(random, Endings);
}

// A line of dialogue: one of the set phrases or a made sentence.
std::string Dialogue(Random* random) {
    return Below(random, 4) == 0 ? std::string(Pick(random, DialogueLines)) : Sentence(random);
}

// One line (or a speaker's line pair) of a scenario script, CRLF included.
std::string ScriptLine(Random* random, const std::string& label) {
    char text[96];
    switch (Below(random, 12)) {
    case 0: std::snprintf(text, sizeof text, "@BG bg%03u\r\n", Below(random, 80)); break;
    case 1: std::snprintf(text, sizeof text, "@BGM %u\r\n", Below(random, 24)); break;
    case 2: std::snprintf(text, sizeof text, "@SE se%03u\r\n", Below(random, 120)); break;
    case 3:
        std::snprintf(text, sizeof text, "@CHR %u,%u,%u\r\n", Below(random, 3), Below(random, 16),
                      Below(random, 8));
        break;
    case 4: std::snprintf(text, sizeof text, "@WAIT %u\r\n", 10 * (1 + Below(random, 12))); break;
    case 5: std::snprintf(text, sizeof text, "@FLAG %u=%u\r\n", Below(random, 64), Below(random, 2)); break;
    case 6:
        std::snprintf(text, sizeof text, "@IF %u,%s_%u\r\n@LABEL %s_%u\r\n", Below(random, 64), label.c_str(),
                      Below(random, 9), label.c_str(), Below(random, 9));
        break;
    case 7: return Dialogue(random) + "\r\n";
    default:
        return std::string(OpenName) + Pick(random, Speakers) + CloseName + "\r\n" + OpenQuote +
               Dialogue(random) + CloseQuote + "\r\n";
    }
    return text;
}

// A scenario script of exactly `size` bytes; the last line is a comment
// that takes up whatever room the script lines leave.
Bytes MakeScript(const std::string& name, size_t size) {
    Random random = SeedFromName(name);
    const std::string label = name.substr(0, name.find('.'));
    Bytes out;
    Put(&out, ";");
    Put(&out, label);
    Put(&out, "\r\n");
    for (;;) {
        const std::string line = ScriptLine(&random, label);
        if (out.size() + line.size() + 3 > size) break;
        Put(&out, line);
    }
    std::string filler(size - out.size(), '-');
    filler.front() = ';';
    filler[filler.size() - 2] = '\r';
    filler.back() = '\n';
    Put(&out, filler);
    return out;
}

// Code-like bytes: 32-bit x86 functions built from a few common shapes.
void PutFunction(Random* random, Bytes* out, uint32_t code_base, uint32_t code_size) {
    const uint8_t prologue[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC};
    out->insert(out->end(), prologue, prologue + sizeof prologue);
    out->push_back(uint8_t(4 * (1 + Below(random, 16))));
    const uint8_t saves[] = {0x53, 0x56, 0x57};
    out->insert(out->end(), saves, saves + sizeof saves);
    const uint32_t steps = 6 + Below(random, 40);
    for (uint32_t i = 0; i < steps; ++i) {
        switch (Below(random, 8)) {
        case 0: out->insert(out->end(), {0x8B, 0x45, uint8_t(0x08 + 4 * Below(random, 4))}); break;
        case 1: out->insert(out->end(), {0x89, 0x45, uint8_t(0xFC - 4 * Below(random, 8))}); break;
        case 2: {
            out->push_back(0x68); // push imm32: an address in the data
            const uint32_t address = 0x00463000 + 4 * Below(random, 0x800);
            for (int b = 0; b < 4; ++b) out->push_back(uint8_t(address >> (8 * b)));
            break;
        }
        case 3: {
            out->push_back(0xE8); // call rel32 to somewhere in the code
            const uint32_t target = code_base + Below(random, code_size);
            const uint32_t relative = target - (code_base + uint32_t(out->size()) + 4);
            for (int b = 0; b < 4; ++b) out->push_back(uint8_t(relative >> (8 * b)));
            break;
        }
        case 4: out->insert(out->end(), {0x83, 0xC4, uint8_t(4 * (1 + Below(random, 4)))}); break;
        case 5: out->insert(out->end(), {0x85, 0xC0, 0x74, uint8_t(2 + Below(random, 30))}); break;
        case 6: out->insert(out->end(), {0x33, 0xC0}); break;
        default: // push a local and call through the import table
            out->insert(out->end(), {0x8B, 0x4D, 0xF8, 0x51, 0xFF, 0x15, 0x00, 0x30, 0x46, 0x00});
        }
    }
    const uint8_t epilogue[] = {0x5F, 0x5E, 0x5B, 0x8B, 0xE5, 0x5D, 0xC3};
    out->insert(out->end(), epilogue, epilogue + sizeof epilogue);
    while (out->size() % 16 != 0) out->push_back(0xCC);
}

// Fills `section` from `offset` with `content`, cut to `limit` bytes; the rest stays zero.
void Place(Bytes* image, size_t offset, const Bytes& content, size_t limit) {
    for (size_t i = 0; i < content.size() && i < limit; ++i) (*image)[offset + i] = content[i];
}

// A 32-bit Windows GUI executable in outline: DOS header and stub, PE
// header, four sections of code, read-only data with the import names,
// initialised data and resources, each padded with zeros to the file alignment.
Bytes MakeExecutable(const std::string& name, int32_t timestamp) {
    Random random = SeedFromName(name);
    Bytes image(ExecutableSize, 0);

    image[0] = 'M';
    image[1] = 'Z';
    PutAt(&image, 0x02, 0x90, 2);
    PutAt(&image, 0x04, 3, 2);
    PutAt(&image, 0x08, 4, 2);
    PutAt(&image, 0x0C, 0xFFFF, 2);
    PutAt(&image, 0x10, 0xB8, 2);
    PutAt(&image, 0x18, 0x40, 2);
    PutAt(&image, 0x3C, 0x80, 4);
    const uint8_t stub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    Place(&image, 0x40, Bytes(stub, stub + sizeof stub), sizeof stub);
    const std::string message = "This program cannot be run in DOS mode.\r\r\n$";
    Place(&image, 0x4E, Bytes(message.begin(), message.end()), message.size());

    struct Section {
        const char* name;
        uint32_t offset, size, characteristics;
    };
    const Section sections[] = {
        {".text", 0x1000, 0x5A000, 0x60000020},
        {".rdata", 0x5B000, 0x8000, 0x40000040},
        {".data", 0x63000, 0xB000, 0xC0000040},
        {".rsrc", 0x6E000, 0x8000, 0x40000040},
    };
    const size_t pe = 0x80;
    Place(&image, pe, Bytes{'P', 'E', 0, 0}, 4);
    PutAt(&image, pe + 4, 0x014C, 2); // i386
    PutAt(&image, pe + 6, 4, 2);
    PutAt(&image, pe + 8, uint32_t(timestamp - 3600), 4);
    PutAt(&image, pe + 20, 0xE0, 2);
    PutAt(&image, pe + 22, 0x010F, 2);
    const size_t optional = pe + 24;
    PutAt(&image, optional, 0x010B, 2); // PE32
    image[optional + 2] = 6;
    PutAt(&image, optional + 4, 0x5A000, 4);
    PutAt(&image, optional + 8, 0x1B000, 4);
    PutAt(&image, optional + 16, 0x1000 + 0x4A3C0, 4); // entry point
    PutAt(&image, optional + 20, 0x1000, 4);
    PutAt(&image, optional + 24, 0x5B000, 4);
    PutAt(&image, optional + 28, 0x00400000, 4);
    PutAt(&image, optional + 32, 0x1000, 4);
    PutAt(&image, optional + 36, 0x1000, 4);
    PutAt(&image, optional + 40, 4, 2);
    PutAt(&image, optional + 48, 4, 2);
    PutAt(&image, optional + 56, 0x76000, 4);
    PutAt(&image, optional + 60, 0x1000, 4);
    PutAt(&image, optional + 68, 2, 2); // the GUI subsystem
    PutAt(&image, optional + 72, 0x100000, 4);
    PutAt(&image, optional + 76, 0x1000, 4);
    PutAt(&image, optional + 80, 0x100000, 4);
    PutAt(&image, optional + 84, 0x1000, 4);
    PutAt(&image, optional + 92, 16, 4);
    PutAt(&image, optional + 96 + 8, 0x5B000 + 0x400, 4); // imports
    PutAt(&image, optional + 96 + 12, 0xA0, 4);
    PutAt(&image, optional + 96 + 16, 0x6E000, 4); // resources
    PutAt(&image, optional + 96 + 20, 0x6A10, 4);
    size_t header = optional + 0xE0;
    for (const Section& section : sections) {
        for (size_t i = 0; section.name[i] != '\0'; ++i) image[header + i] = uint8_t(section.name[i]);
        PutAt(&image, header + 8, section.size - Below(&random, 0x800), 4);
        PutAt(&image, header + 12, section.offset, 4);
        PutAt(&image, header + 16, section.size, 4);
        PutAt(&image, header + 20, section.offset, 4);
        PutAt(&image, header + 36, section.characteristics, 4);
        header += 40;
    }

    // Code fills most of its section; the linker's padding is zeros.
    Bytes code;
    const uint32_t code_size = sections[0].size - 0x2400;
    while (code.size() < code_size) PutFunction(&random, &code, 0x00401000, code_size);
    Place(&image, sections[0].offset, code, code_size);

    // Read-only data: strings, then the import names with their hints.
    Bytes rdata(0x400, 0);
    for (size_t i = 0; i < rdata.size(); i += 8) PutAt(&rdata, i, 0x3FF00000u + Below(&random, 0x100000), 4);
    const char* const libraries[][9] = {
        {"KERNEL32.dll", "GetModuleHandleA", "GetProcAddress", "CreateFileA", "ReadFile", "WriteFile", "CloseHandle",
         "GetTickCount", "Sleep"},
        {"USER32.dll", "MessageBoxA", "CreateWindowExA", "DefWindowProcA", "GetMessageA", "DispatchMessageA",
         "PeekMessageA", "LoadIconA", "ShowWindow"},
        {"GDI32.dll", "CreateCompatibleDC", "SelectObject", "BitBlt", "DeleteObject", "CreateFontA", "TextOutA",
         "SetTextColor", "SetBkMode"},
        {"WINMM.dll", "timeGetTime", "mciSendCommandA", "waveOutOpen", "waveOutWrite", "waveOutClose",
         "timeBeginPeriod", "timeEndPeriod", "PlaySoundA"},
        {"ADVAPI32.dll", "RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey", "RegCreateKeyExA", "RegSetValueExA",
         "RegDeleteValueA", "RegEnumKeyExA", "RegFlushKey"},
    };
    for (const auto& library : libraries) {
        for (size_t i = 1; i < 9; ++i) {
            rdata.push_back(uint8_t(Below(&random, 256)));
            rdata.push_back(uint8_t(Below(&random, 2)));
            Put(&rdata, library[i]);
            rdata.push_back(0);
            if (rdata.size() % 2 != 0) rdata.push_back(0);
        }
        Put(&rdata, library[0]);
        rdata.insert(rdata.end(), 2, 0);
    }
    const char* const strings[] = {"Software\\Vantor\\Quellstorm", "DataDir", "sinario\\%s.MES",
                                   "sinario\\system\\%s.MES",     "save%02d.dat", "Quellstorm",
                                   "%s\\%s",                      "bgm%02d.wav", "se%03d.wav"};
    for (const char* text : strings) {
        Put(&rdata, text);
        do rdata.push_back(0);
        while (rdata.size() % 4 != 0);
    }
    Place(&image, sections[1].offset, rdata, sections[1].size);

    // Initialised data: tables of small numbers, then zeros.
    Bytes data;
    for (uint32_t i = 0; i < 0x3000; ++i) data.push_back(uint8_t(i % 7 == 0 ? Below(&random, 64) : (i / 7) % 16));
    Place(&image, sections[2].offset, data, sections[2].size);

    // Resources: a 16-colour icon's pixels and version text in UTF-16.
    Bytes resources;
    for (uint32_t row = 0; row < 32; ++row)
        for (uint32_t column = 0; column < 512; ++column)
            resources.push_back(uint8_t(((row / 4 + column / 16) % 2 == 0) ? 0x77 : 0x88));
    static const char version[] = "CompanyName\0Vantor\0ProductName\0Quellstorm\0FileVersion\0" "1, 0, 4, 0";
    for (const char c : version) {
        resources.push_back(uint8_t(c));
        resources.push_back(0);
    }
    Place(&image, sections[3].offset, resources, sections[3].size);
    return image;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quellstorm-samples OUT_DIR\n");
        return 2;
    }
    const std::string directory = argv[1];
    std::string manifest;
    for (int position = 0; position < UpdatePlanSize; ++position) {
        const std::string name = UpperCase(UpdatePlan[position].payload_name);
        Random random = SeedFromName(name + "#time");
        int32_t timestamp = EarliestTime + int32_t(Below(&random, uint32_t(LatestTime - EarliestTime)));
        Bytes bytes;
        if (position == 0) {
            timestamp = LatestTime; // the executable was built last
            bytes = MakeExecutable(name, timestamp);
        } else {
            if (position == 1) timestamp = EarliestTime;
            // The four "system" scripts are short, one of them the shortest
            // file of all; one story script is the longest.
            size_t size = 2000 + size_t(Below(&random, 78000));
            if (UpdatePlan[position].subdirs[1] != nullptr) size = 300 + Below(&random, 2400);
            if (name == "209A_CON.PCK") size = SmallestScriptSize;
            if (name == "110CORIN_C.PCK") size = LargestScriptSize;
            bytes = MakeScript(name, size);
        }
        if (!WriteFile(directory + "/" + name + ".in", bytes)) {
            std::fprintf(stderr, "quellstorm-samples: cannot write %s/%s.in\n", directory.c_str(), name.c_str());
            return 1;
        }
        manifest += name + " " + std::to_string(timestamp) + "\n";
    }
    if (!WriteFile(directory + "/manifest.txt", Bytes(manifest.begin(), manifest.end()))) {
        std::fprintf(stderr, "quellstorm-samples: cannot write %s/manifest.txt\n", directory.c_str());
        return 1;
    }
    return 0;
}
