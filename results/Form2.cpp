#include "Form2.h"

Form2::Form2()
{
    setWindowTitle(QStringLiteral("Preview"));
    resize(3750 / 15, 2775 / 15);
}
