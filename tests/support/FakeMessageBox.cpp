#include "support/FakeMessageBox.h"
