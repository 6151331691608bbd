// Resource identifiers shared by the tool's resource script and its window.
#pragma once

#define IDI_PINGTOOL 101
