#include "installed_meters.h"

InstalledMeterList& InstalledMeters()
{
    static InstalledMeterList list;
    return list;
}
