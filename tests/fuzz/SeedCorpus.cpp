// Makes the seed corpus of the fuzz targets: crafted documents for the
// inspection, replies with their reading plans for the reply reading, and
// edge URIs for the file URIs. The seeds are checked in under
// tests/fuzz/corpus/<target>/; findings of the targets sit beside them as
// regression-* inputs, which this program leaves alone.
//
//   fuzz_seeds write <corpus folder>   writes every seed
//   fuzz_seeds check <corpus folder>   fails unless every seed is there as made
//                                      and every other input is a regression-*

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/fuzz/ReplyFuzzInput.h"
#include "tests/support/CraftedDocument.h"

namespace {

namespace fs = std::filesystem;
using halvoric::HeaderLayout;
using halvoric::fuzz::ReplyPlan;
using halvoric::testing::CraftedDocument;

constexpr auto BE = HeaderLayout::BigEndian;
constexpr auto LE = HeaderLayout::LittleEndian;

// target folder -> seed name -> bytes
using Corpus = std::map<std::string, std::map<std::string, std::string>>;

std::int64_t Chunk(std::int64_t k) {
    return CraftedDocument::ChunkStart(k);
}

std::string LayoutName(HeaderLayout layout) {
    return layout == BE ? "be" : "le";
}

// The inspection target scans a document whose first byte is odd a second
// time with its body moved across the edge of the scan's first window.
void AddMoved(std::map<std::string, std::string>& seeds, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        std::string document = seeds.at(name);
        document[0] = '\x01';
        seeds[std::string(name) + "-moved"] = document;
    }
}

void AddDocuments(std::map<std::string, std::string>& seeds) {
    // Headers alone, too short for one byte or another.
    seeds["empty"] = "";
    seeds["no-layout-byte"] = CraftedDocument(LE, 24).Bytes();
    seeds["be-without-release-byte"] = CraftedDocument(BE, 32).Bytes();
    seeds["le-header-only"] = CraftedDocument(LE, 0x06, 48).Bytes();
    // Byte 24 decides which of bytes 29 and 32 is read.
    seeds["be-cs5-over-le-cs2"] = CraftedDocument(BE, 0x07, 48).PutByte(29, 0x04).Bytes();
    seeds["le-cs2-over-be-cs5"] = CraftedDocument(LE, 0x04, 48).PutByte(32, 0x07).Bytes();
    // A known release whose body ends before the scan starts.
    seeds["le-cs4-no-body"] = CraftedDocument(LE, 0x06, 40960).Bytes();

    // Every release byte of the table in both layouts, with a record in the
    // first chunk: CS by its own marker, CS2 to CS6 by the body marker.
    const char* builds[] = {"3.0.0.424", "4.0.5.688", "5.0.4.682", "6.0.6.352", "7.0.4.553", "8.0.2.413"};
    for (const HeaderLayout layout : {BE, LE}) {
        for (std::uint8_t release = 0x03; release <= 0x08; ++release) {
            CraftedDocument document(layout, release, Chunk(0) + 6000);
            if (release != 0x03) document.BodyMarker(Chunk(0) + 500);
            document.VersionRecord(Chunk(0) + 2000, builds[release - 3], layout == BE ? 0x00 : 0x01);
            seeds[LayoutName(layout) + "-release-" + std::to_string(release) + "-first-chunk"] = document.Bytes();
        }
    }

    // A body marker that begins 3 bytes before chunk 0 ends lies whole only
    // in chunk 1.
    seeds["le-cs4-marker-straddles-chunk-edge"] = CraftedDocument(LE, 0x06, Chunk(2) + 100)
                                                      .BodyMarker(Chunk(0) + 6144 - 3)
                                                      .VersionRecord(Chunk(1) + 5000, "6.0.6.352", 0x01)
                                                      .Bytes();
    seeds["be-cs3-record-straddles-chunk-edge"] = CraftedDocument(BE, 0x05, Chunk(2) + 100)
                                                      .BodyMarker(Chunk(1) + 100)
                                                      .VersionRecord(Chunk(1) + 6144 - 1, "5.0.4.682", 0x00)
                                                      .Bytes();
    // A record whose version-number text is the file's last bytes.
    {
        CraftedDocument document(BE, 0x05, Chunk(2));
        document.BodyMarker(Chunk(2) + 1000).VersionRecord(Chunk(2) + 3000, "5.0.4.682", 0x00);
        seeds["be-cs3-record-at-end"] = document.Bytes();
    }
    // CS5.5 from the version-number text, under a CS5 header and a CS header.
    seeds["le-cs5-marks-cs55"] = CraftedDocument(LE, 0x07, Chunk(1))
                                     .BodyMarker(Chunk(0) + 300)
                                     .VersionRecord(Chunk(0) + 4000, "7.5.0.151", 0x01)
                                     .Bytes();
    seeds["be-cs-marks-cs55"] =
        CraftedDocument(BE, 0x03, Chunk(1)).VersionRecord(Chunk(0) + 4000, "3.5.1.203", 0x00).Bytes();
    // No chunk passes: a body marker without a delimiter, and noise.
    seeds["le-cs2-marker-without-delimiter"] = CraftedDocument(LE, 0x04, Chunk(3) + 77)
                                                   .Noise(Chunk(0), Chunk(3) + 77, 7)
                                                   .BodyMarker(Chunk(1) + 10)
                                                   .Bytes();
    // The delimiter before the marker still passes.
    seeds["be-cs6-delimiter-before-marker"] = CraftedDocument(BE, 0x08, Chunk(1))
                                                  .VersionRecord(Chunk(0) + 100, "8.0.2.413", 0x01)
                                                  .BodyMarker(Chunk(0) + 3000)
                                                  .Bytes();
    // A chunk that ends with the delimiter: the last field is empty.
    seeds["le-cs3-chunk-ends-with-delimiter"] = CraftedDocument(LE, 0x05, Chunk(0) + 6144)
                                                    .BodyMarker(Chunk(0) + 10)
                                                    .FieldDelimiter(Chunk(0) + 6142)
                                                    .Bytes();
    // One delimiter a few bytes into the chunk: the edition field is too short.
    seeds["be-cs4-short-edition-field"] = CraftedDocument(BE, 0x06, Chunk(0) + 3000)
                                              .FieldDelimiter(Chunk(0) + 5)
                                              .BodyMarker(Chunk(0) + 100)
                                              .Bytes();
    // An edition byte that names neither edition.
    seeds["le-cs5-edition-byte-2"] = CraftedDocument(LE, 0x07, Chunk(1))
                                         .BodyMarker(Chunk(0) + 300)
                                         .VersionRecord(Chunk(0) + 4000, "7.0.4.553", 0x02)
                                         .Bytes();
    // A release byte outside the table is never scanned, whatever the body holds.
    seeds["be-unknown-release-with-record"] = CraftedDocument(BE, 0x09, Chunk(1))
                                                  .BodyMarker(Chunk(0) + 300)
                                                  .VersionRecord(Chunk(0) + 4000, "9.0.0.1", 0x00)
                                                  .Bytes();

    AddMoved(seeds, {"be-release-3-first-chunk", "le-release-6-first-chunk", "le-cs4-marker-straddles-chunk-edge",
                     "be-cs3-record-straddles-chunk-edge", "be-cs3-record-at-end", "le-cs2-marker-without-delimiter"});
}

std::string Reply(std::string text, std::vector<std::uint16_t> cuts = {}, bool lastWithClose = false,
                  std::optional<int> filler = std::nullopt) {
    return halvoric::fuzz::EncodeReplyPlan(ReplyPlan{std::move(cuts), lastWithClose, filler, std::move(text)});
}

void AddReplies(std::map<std::string, std::string>& seeds) {
    const std::string typical = "HTTP/1.1 200 OK\r\nDate: Mon, 07 Dec 2026 08:00:00 GMT\r\nServer: Apache\r\n"
                                "Content-Length: 4\r\nContent-Type: text/html; charset=UTF-8\r\n\r\ntrue";
    seeds["typical-one-read"] = Reply(typical);
    seeds["typical-cut-in-blank-line"] = Reply(typical, {static_cast<std::uint16_t>(typical.size() - 6)});
    seeds["typical-cut-everywhere"] = Reply(typical, {1, 9, 13, 17, 18, 60, 120, 139, 140, 141, 142});
    seeds["typical-last-read-with-close"] = Reply(typical, {30}, true);
    seeds["false-reply"] = Reply("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfalse");
    seeds["error-status-with-body"] = Reply("HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n\r\ntrue");
    seeds["not-found"] = Reply("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", {20});
    seeds["line-feeds-only"] = Reply("HTTP/1.0 200 OK\nA: b\nC: d\n\nbody\n\nmore", {5, 25});
    seeds["carriage-returns-only"] = Reply("HTTP/1.0 200 OK\rA: b\r\rbody", {3});
    seeds["crlf-named-lf-lf-first"] = Reply("HTTP/1.0 200 OK\r\nA: b\n\nbody\r\n\r\n", {22});
    seeds["lf-named-cr-cr-first"] = Reply("HTTP/1.0 200 OK\nA: b\r\rC: d\n\nbody");
    seeds["repeated-names"] = Reply("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\nX: 1\r\n"
                                    "Set-Cookie: c=3\r\n\r\nbody",
                                    {40, 41});
    seeds["continued-lines"] = Reply("HTTP/1.1 200 OK\r\nX-Long: one\r\n two\r\n\tthree\r\nY:   spaced\r\n"
                                     "NoColon\r\n:empty name\r\n\r\nbody");
    seeds["status-forms"] = Reply("HTTP/1.1  200 OK\r\nA: b\r\n\r\n");
    seeds["status-huge"] = Reply("HTTP/1.1 99999999999999999999 Big\r\n\r\nx");
    seeds["status-negative"] = Reply("HTTP/1.1 -42 Odd\r\n\r\nx");
    seeds["status-only"] = Reply("HTTP/1.0 204\r\n\r\n");
    seeds["close-before-blank-line"] = Reply("HTTP/1.1 200 OK\r\nA: b\r\n", {10});
    seeds["nothing"] = Reply("");
    seeds["blank-line-first"] = Reply("\r\n\r\nbody", {1, 2, 3});
    // Bodies one short of the cap, at it and one past it; a header block that
    // never ends and grows past the cap.
    const std::string small = "HTTP/1.0 200 OK\r\n\r\nxyz";
    seeds["body-below-cap"] = Reply(small, {}, false, -1);
    seeds["body-at-cap"] = Reply(small, {}, false, 0);
    seeds["body-past-cap"] = Reply(small, {10}, false, 1);
    seeds["body-past-cap-with-close"] = Reply(small, {}, true, 4);
    seeds["header-block-past-cap"] = Reply("HTTP/1.0 200 OK\r\nA: ", {}, false, 1);
}

void AddUris(std::map<std::string, std::string>& seeds) {
    const std::pair<const char*, std::string> uris[] = {
        {"plain", "file:///tmp/a.indd"},
        {"localhost", "file://localhost/a%20b"},
        {"letter-case", "FILE://LocalHost/x"},
        {"escaped-utf8", "file:///t/%E6%97%A5%e6%9c%AC.indd"},
        {"raw-utf8", "file:///t/日本語 a.indd"},
        {"not-utf8", "file:///t/caf%E9"},
        {"raw-not-utf8", "file:///t/caf\xE9"},
        {"root", "file:///"},
        {"double-slash-path", "file:////server/share"},
        {"dot-segments", "file:///a/./b/../c"},
        {"other-host", "file://host/x"},
        {"localhost-prefix", "file://localhost.example/x"},
        {"address-host", "file://127.0.0.1/x"},
        {"user-at-localhost", "file://user@localhost/x"},
        {"localhost-port", "file://localhost:80/x"},
        {"escaped-host", "file://local%68ost/x"},
        {"no-path", "file://localhost"},
        {"no-authority", "file:/tmp/x"},
        {"relative", "file:relative/x"},
        {"other-scheme", "http://host/x"},
        {"plain-path", "/plain/path"},
        {"escape-cut-short", "file:///a%2"},
        {"escape-at-end", "file:///a%"},
        {"escape-not-hex", "file:///a%zz"},
        {"escaped-nul", "file:///a%00b"},
        {"raw-nul", std::string("file:///a\0b", 11)},
        {"query", "file:///a?b"},
        {"fragment", "file:///a#b"},
        {"every-escape", "file:///%01%02%09%0A%0D%20%25%3F%23%7F%80%FF"},
        {"empty", ""},
    };
    for (const auto& [name, uri] : uris) seeds[name] = uri;
}

Corpus Seeds() {
    Corpus corpus;
    AddDocuments(corpus["inspection"]);
    AddReplies(corpus["reply"]);
    AddUris(corpus["file_uri"]);
    return corpus;
}

std::string Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int Write(const fs::path& root) {
    for (const auto& [target, seeds] : Seeds()) {
        fs::create_directories(root / target);
        for (const auto& [name, bytes] : seeds) {
            std::ofstream out(root / target / name, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) {
                std::fprintf(stderr, "cannot write %s\n", (root / target / name).c_str());
                return 1;
            }
        }
    }
    return 0;
}

int Check(const fs::path& root) {
    int problems = 0;
    for (const auto& [target, seeds] : Seeds()) {
        for (const auto& [name, bytes] : seeds) {
            const fs::path file = root / target / name;
            if (!fs::is_regular_file(file) || Slurp(file) != bytes) {
                std::fprintf(stderr, "%s is missing or not as made: run fuzz_seeds write\n", file.c_str());
                ++problems;
            }
        }
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(root / target, error)) {
            const std::string name = entry.path().filename().string();
            if (!seeds.contains(name) && !name.starts_with("regression-")) {
                std::fprintf(stderr, "%s is neither a seed nor a regression-* input\n", entry.path().c_str());
                ++problems;
            }
        }
    }
    return problems == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc == 3 ? argv[1] : "";
    if (command == "write") return Write(argv[2]);
    if (command == "check") return Check(argv[2]);
    std::fprintf(stderr, "usage: fuzz_seeds write|check <corpus folder>\n");
    return 2;
}
