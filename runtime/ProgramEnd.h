#pragma once

// What ending the program means. The real one ends the process on the spot;
// tests install one that unwinds back to the test instead.
class ProgramEnd
{
public:
    virtual ~ProgramEnd() = default;

    // Must not return.
    [[noreturn]] virtual void end() = 0;
};

// Ends the process at once with exit status 0: no window handler, no event
// and no static destructor runs afterwards. The kernel releases the serial
// port (dropping DTR through HUPCL) and the instance lock's descriptor.
class ProcessExit final : public ProgramEnd
{
public:
    [[noreturn]] void end() override;
};
