#pragma once

#include <QString>

#include <optional>

/// Standard output, standard error and standard input of a run without a window.
class Console
{
public:
    virtual ~Console() = default;
    virtual void writeOutput(const QString &text) = 0;
    virtual void writeError(const QString &text) = 0;
    /// Standard error is a terminal (a progress line can be redrawn there).
    virtual bool errorIsTerminal() = 0;
    /// Standard input is a terminal (someone can answer a question).
    virtual bool inputIsTerminal() = 0;
    /// One line from standard input, without its line end; nothing at its end.
    virtual std::optional<QString> readLine() = 0;
};

/// The process's own streams, in the locale's character set.
class StandardConsole final : public Console
{
public:
    void writeOutput(const QString &text) override;
    void writeError(const QString &text) override;
    bool errorIsTerminal() override;
    bool inputIsTerminal() override;
    std::optional<QString> readLine() override;
};

/// Ctrl+C (SIGINT) as a request to stop rather than the end of the process, while an instance
/// lives: the signal only sets a flag that the work reads at a point where it can stop. A second
/// Ctrl+C ends the process as usual; where SIGINT is ignored, it stays ignored.
class InterruptRequest
{
public:
    InterruptRequest();
    ~InterruptRequest();
    InterruptRequest(const InterruptRequest &) = delete;
    InterruptRequest &operator=(const InterruptRequest &) = delete;
    bool requested() const;
};
