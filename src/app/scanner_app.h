#pragma once
// The program: its seven windows, created once in their order, and the glue
// between them and the serial port's event thread.

#include <QString>

#include <memory>

class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class JournalWindow;

class ScannerApplication {
public:
    // directory: where the program's files live (app_paths.h: beside the
    // executable, or the per-user data folder of an installed copy).
    ScannerApplication(const QString& directory, bool userMode);
    ~ScannerApplication();
    ScannerApplication(const ScannerApplication&) = delete;
    ScannerApplication& operator=(const ScannerApplication&) = delete;

    TForm1& Form1() { return *m_form1; }
    TForm2& Form2() { return *m_form2; }
    TForm3& Form3() { return *m_form3; }
    TForm4& Form4() { return *m_form4; }
    TForm5& Form5() { return *m_form5; }
    TForm6& Form6() { return *m_form6; }
    TForm7& Form7() { return *m_form7; }
    JournalWindow& Journal() { return *m_journal; }

    // Shows the main window; the caller then runs the event loop.
    void Show();

private:
    std::unique_ptr<TForm1> m_form1;
    std::unique_ptr<TForm2> m_form2;
    std::unique_ptr<TForm3> m_form3;
    std::unique_ptr<TForm4> m_form4;
    std::unique_ptr<TForm5> m_form5;
    std::unique_ptr<TForm6> m_form6;
    std::unique_ptr<TForm7> m_form7;
    std::unique_ptr<JournalWindow> m_journal;
};

// Program entry shared by both executables.
int RunScanner(int argc, char** argv, bool userMode);
