// The field log of a run ("-log FILE"): lines appended to a UTF-8 text file
// by the extraction-mode process and its run-mode copy. Writing the log
// never holds up or changes the run: a line that cannot be written is
// skipped, and after a failed open nothing more is tried.
#pragma once

#include <windows.h>

#include <string>

namespace quarry {

class FieldLog {
public:
    // A log at `path` (a full path); an empty path writes nothing.
    explicit FieldLog(std::u16string path);
    FieldLog(const FieldLog&) = delete;
    FieldLog& operator=(const FieldLog&) = delete;

    const std::u16string& Path() const { return path_; }
    bool Enabled() const { return !path_.empty() && !failed_; }

    // Appends "time [process] phase: text". Each line is one write to the
    // end of the file, under a named mutex that both processes of the run
    // (and any other run logging to the same file) take, so lines never mix;
    // a mutex that stays taken for two seconds turns the log off.
    // The file is created when missing. It is never written through a link:
    // a file that is a reparse point, has more than one name (a hard link)
    // or, where the system can tell, lies at another path than the one
    // given (a link above it) is left alone, and the log is off.
    void Line(const char16_t* phase, const std::u16string& text);

private:
    bool Append(const std::string& line);

    std::u16string path_;
    bool failed_ = false;
};

// "-log" given with `log`: a line, else nothing. For code that may run
// without a log.
inline void LogLine(FieldLog* log, const char16_t* phase, const std::u16string& text) {
    if (log) log->Line(phase, text);
}

}  // namespace quarry
