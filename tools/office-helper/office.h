#pragma once
// One headless LibreOffice, started by the helper with a private profile and
// a pipe of its own, and the few spreadsheet operations the program needs.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/types.h>

class OfficeError : public std::runtime_error {
public:
    // unavailable: there is no office to drive (not installed, cannot run).
    OfficeError(const std::string& what, bool unavailable = false)
        : std::runtime_error(what), m_unavailable(unavailable)
    {
    }
    bool unavailable() const { return m_unavailable; }

private:
    bool m_unavailable;
};

class Office {
public:
    // programDir: the office's "program" folder (soffice, fundamentalrc).
    explicit Office(std::string programDir);
    ~Office();
    Office(const Office&) = delete;
    Office& operator=(const Office&) = delete;

    // Starts soffice with the profile in profileDir (created by the office if
    // missing), connects, and makes localeTag ("ru-RU", "en-US") the office's
    // locale, so numbers typed into cells are read as the program's user
    // writes them. started gets the office's process group as soon as it
    // exists, before the connection is up. Returns the process group.
    pid_t Start(const std::string& localeTag, const std::string& profileDir, int timeoutMs,
                const std::function<void(pid_t)>& started);

    void Open(const std::string& path);
    void SelectSheet(int index);  // 1-based
    // Cell handles: cell objects of the selected sheet that keep pointing at
    // their cell when rows are inserted above it.
    int Range(const std::string& name);
    int Cell(int row, int column);  // 1-based
    // The text as a user would type it: a number in the office's locale
    // becomes a number, "=..." a formula.
    void Set(int handle, const std::string& text);
    // The text as it stands, never a number or a formula.
    void SetText(int handle, const std::string& text);
    // The entire rows of the range first..last: copy remembers them, insert
    // puts a copy in at the range's rows and moves those rows down.
    void CopyRows(int first, int last);
    void InsertRows(int first, int last);
    void Save();                // in place, in the workbook's own format
    void CloseWithoutSaving();
    // Ends the office: asks it to terminate, then kills its process group
    // if it has not ended within timeoutMs.
    void Quit(int timeoutMs);
    // For signal handlers: the process group to kill, or 0.
    pid_t ProcessGroup() const { return m_pid; }

private:
    struct Uno;
    std::string m_programDir;
    pid_t m_pid = 0;
    std::unique_ptr<Uno> m_uno;
};
