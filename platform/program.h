// The program's own folder and the end of the program.
#pragma once

#include <string>

namespace platform {

// How the program ends at once (VB's End): no further code of the system runs. The window's
// event slots call it after the EndProgram exception has unwound the procedure.
class ProgramEnd {
  public:
    virtual ~ProgramEnd() = default;
    virtual void EndNow() = 0;
};

// Ends the process at once, from however deep inside nested event loops it is called. The
// log file is closed after every line, so nothing is left to flush.
class ProcessEnd final : public ProgramEnd {
  public:
    void EndNow() override;
};

// The folder that holds the program's executable, as the windowing toolkit reports it
// (platform/qt/, platform/win32/).
std::string ProgramFolder();

}  // namespace platform
