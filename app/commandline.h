// The program's command line, split where Qt must stop reading it.
//
// QApplication takes its own options (-reverse, -title, -platform...) out of
// the arguments it is given, wherever they stand, so after "--" a directory
// named "-reverse" would turn the layout around instead of being opened. Qt
// is given only what comes before "--"; the program reads what Qt left of
// that, then "--" and everything after it, as given.
#pragma once

#include <string>
#include <vector>

namespace kelvo {

class CommandLine {
public:
    // Copies the arguments; `argv` itself is never changed.
    CommandLine(int argc, const char* const* argv);
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // What to make QApplication with: the program's name and the arguments
    // before "--". Qt takes its own options out of these; they live as long
    // as this object.
    [[nodiscard]] int& qtArgc() { return qtArgc_; }
    [[nodiscard]] char** qtArgv() { return qtArgv_.data(); }

    // The program's arguments, its name first: what Qt left before "--",
    // then "--" and what follows it, untouched.
    [[nodiscard]] std::vector<std::string> programArguments() const;

private:
    std::vector<std::string> given_; // every argument as given
    std::size_t end_ = 0;            // where "--" stands in given_, or its size
    std::vector<std::string> forQt_; // given_[0, end_), owned for Qt's pointers
    std::vector<char*> qtArgv_;      // into forQt_, null-terminated
    int qtArgc_ = 0;
};

// The PATH arguments of the program's arguments, as the bytes given: a name
// need not be UTF-8. Everything but an option and the value of --dat is a
// path, and everything after "--".
[[nodiscard]] std::vector<std::string> pathsOf(const std::vector<std::string>& arguments);

// The checksum lists given with "--dat FILE" or "--dat=FILE" (one dash
// works too, as for Qt's options) before "--", in their order, as the bytes given.
[[nodiscard]] std::vector<std::string> listsOf(const std::vector<std::string>& arguments);

} // namespace kelvo
