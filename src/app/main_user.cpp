#include "scanner_app.h"

// The delivered variant: commands that change a meter are hidden.
constexpr bool UserMode = true;

int main(int argc, char** argv)
{
    return RunScanner(argc, argv, UserMode);
}
