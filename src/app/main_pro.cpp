#include "scanner_app.h"

// The professional variant: every command is shown.
constexpr bool UserMode = false;

int main(int argc, char** argv)
{
    return RunScanner(argc, argv, UserMode);
}
