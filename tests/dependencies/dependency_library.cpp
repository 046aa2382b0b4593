// A library that test drivers import, so that a driver loads only where the
// loader finds this file too; it names the tag the drivers record under.
#include "dependency_tag.h"

extern "C" const char* DependencyTag()
{
    return DEPENDENCY_TAG;
}
