#include "Platform.h"
#include "objects/ComputedProperties.h"

// The rules and their handlers are filled in with the computed properties;
// until then the table holds only its end.
const SComputedProperty g_eseComputedProps[] = {
    {0, 0, 0, {}, nullptr},
};
