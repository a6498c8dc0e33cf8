#pragma once

#include "toolkit.h"

#include <QTest>

// Tests run inside the program's own application object, so exceptions and
// event delivery behave as they do for the user.
#define COMLOOP_TEST_MAIN(TestClass)                                  \
    int main(int argc, char **argv)                                   \
    {                                                                 \
        Application->Initialize();                                    \
        int result;                                                   \
        {                                                             \
            TestClass test;                                           \
            result = QTest::qExec(&test, argc, argv);                 \
        }                                                             \
        Application->Finalize();                                      \
        return result;                                                \
    }
