// The one function of the dependency library, imported by the drivers that
// are built against it: their records carry its tag, which shows it was used.
#pragma once

extern "C" const char* DependencyTag();
