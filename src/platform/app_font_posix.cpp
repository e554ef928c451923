#include "app_font.h"

// The desktop's own font, which the user chose, is kept.
void UseApplicationFont() {}
