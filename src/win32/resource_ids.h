// Ids of the resources in resources.rc, shared with the code that loads them.
#pragma once

#define QOVIRA_ICON_ID 1
