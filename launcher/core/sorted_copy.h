// The sorted copy of a full-details report: the lines before the first PC
// echo line, then only the blocks of the instructions the user ticked.
//
// A block is a PC echo line ("PC     :  " and the data field) with every
// line after it up to the next PC echo line: the controller's reply and
// all the decoded lines belong to the PC message they follow.
#pragma once

#include <array>
#include <cstddef>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "fault.h"

namespace vornlog {

// One letter for each CheckAGarder box, in the boxes' order.
inline constexpr std::string_view instructionLetters = "VBDISTPMGOLZFREWCY";
inline constexpr std::size_t instructionCount = instructionLetters.size();

// The CheckAGarder boxes: true for a ticked box.
using KeptInstructions = std::array<bool, instructionCount>;

// The instruction code of a PC echo line: its characters 11 and 12 (the
// first hex pair of the data field) read as a hexadecimal number as far as
// they are hex digits; 0 when the first one is not.
int echoInstructionCode(std::string_view line);

// Copies the sorted `report` to `sorted`, line by line. Kept lines keep
// their bytes and their line ends; a line ends at "\n" (a "\r" in front of
// it belongs to the line end). A block whose instruction letter is none of
// the 18 is left out.
void sortReport(std::istream& report, std::ostream& sorted, const KeptInstructions& keep);
std::string sortReport(std::string_view report, const KeptInstructions& keep);

// The dest file name without its last four characters, then "Trié.txt";
// empty when the name is shorter than four characters.
std::string sortedFileName(const std::string& destName);

// What became of a sorted copy.
struct SortedCopyResult {
    Fault fault = Fault::None;
    // The copy was written whole but could not take its name: the file it
    // was left in (UTF-8), empty otherwise.
    std::string leftAt;
};

// Reads the report `destPath` and writes its sorted copy to `sortedPath`,
// replacing a file of that name in one step: the copy is written to a new
// file of its own beside it, then takes the name. An earlier copy stays
// until then. Paths are UTF-8.
SortedCopyResult writeSortedCopy(const std::string& destPath, const std::string& sortedPath,
                                 const KeptInstructions& keep);

} // namespace vornlog
