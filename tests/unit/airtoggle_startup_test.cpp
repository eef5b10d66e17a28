#include "airtoggle_fixture.h"
