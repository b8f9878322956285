#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace mirova {

// Exit statuses of the command line.
inline constexpr int kExitDone = 0;        // the run reached its report, or the trees are equal
inline constexpr int kExitEndedEarly = 1;  // missing folder, failed scan, declined question
inline constexpr int kExitUsage = 2;       // the command line is wrong

// A compare run of two folders, as given on the command line.
struct CompareCommand {
    std::string source;
    std::string target;
    std::vector<std::string> excludeNames;
    std::vector<std::string> excludeExtensions;
    bool noStopOnError = false;
    bool assumeYes = false;
};

struct ParsedCommand {
    enum class Kind { Help, Compare, Error } kind = Kind::Error;
    CompareCommand compare;
    std::string error;  // what is wrong, for Kind::Error
};

ParsedCommand ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text of `mirova --help`.
std::string UsageText();

// Runs a compare run to its end on this thread; returns the exit status.
int RunCompare(const CompareCommand& command, std::istream& in, std::ostream& err, bool interactive,
               bool showStatus);

// The whole command line: parses, runs, and returns the exit status.
int RunConsole(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
               std::ostream& err);

}  // namespace mirova
