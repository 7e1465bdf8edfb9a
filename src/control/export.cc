// Anchors the shared library; the control and its entries live in tarvion_core.
#include "tarvion/tarvion.hpp"
