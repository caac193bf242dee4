// Inventory files merged into a unit's contents file: whatever the scan file holds, the
// contents file keeps one line per location.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fuzz_input.h"
#include "lab/ContentsFile.h"
#include "lab/Unit.h"

using namespace krb::server;

namespace {

namespace fs = std::filesystem;

const fs::path& scratchFolder() {
    static const fs::path folder = [] {
        fs::path path =
            fs::temp_directory_path() / ("krb-fuzz-merge-" + std::to_string(::getpid()));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

void writeFile(const fs::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

constexpr std::string_view kContents =
    "1,1,1,0,,Location 1,Top,,,\r\n"
    "2,1,2,1,P2,Plate 2,Top,,,\r\n"
    "3,2,1,0,,Assay,,,,\r\n"
    "4,2,2,0,,Location 4,,,,\r\n";

TKRBId& unitWithContents() {
    static TKRBDLL dll{KRBExports{}};
    static TKRBId unit{"U1", 4, "Sys", "", dll};
    static const bool made = [] {
        unit.ContentsFile = (scratchFolder() / "contents.csv").string();
        unit.AddCassette(1, 2, 10, 0);
        unit.AddCassette(2, 2, 10, 0);
        unit.AddSector(std::make_unique<TKRBSector>("Top", &unit))
            .AddCassette(unit.FindCassette(1));
        return true;
    }();
    (void)made;
    return unit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TKRBId& unit = unitWithContents();
    writeFile(unit.ContentsFile, kContents);
    const fs::path inventory = scratchFolder() / "scan.inv";
    writeFile(inventory, krb::fuzz::textOf(data, size));
    try {
        unit.MergeInventory(inventory.string(), size % 2 == 0);
    } catch (const TContentsFileError&) {
        krb::fuzz::require(false);  // both files are there and writable
    }
    auto lines = LoadTextLines(unit.ContentsFile);
    krb::fuzz::require(lines && lines->size() == 4);
    for (const auto& line : *lines) {
        // A barcode with a line break or a "," would shift every later field.
        krb::fuzz::require(SplitContentsLine(line)[kDateUnloadField].find(',') ==
                           std::string::npos);
    }
    return 0;
}
