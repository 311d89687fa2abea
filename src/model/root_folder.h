#pragma once

// RootFolder is declared with the other folder classes.
#include "model/folder.h"
