#include "Form1.h"

#include "Services.h"

Form1::Form1(Services &services) : m_services(services)
{
    setWindowTitle(QStringLiteral("Twinfold 7.0"));
}

Form1::~Form1() = default;
