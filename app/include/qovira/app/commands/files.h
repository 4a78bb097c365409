// The tool's operations read and write files through the platform library.
#pragma once

#include "qovira/platform/directories.h"
#include "qovira/platform/files.h"
