#include "Form4.h"

#include "ResultsModel.h"
#include "Services.h"

Form4::Form4(Services &services, QWidget *mainWindow)
    : m_services(services), m_mainWindow(mainWindow), m_model(new ResultsModel(this))
{
    setWindowTitle(QStringLiteral("Twinfold 7.0"));
    resize(11880 / 15, 8520 / 15);
}

Form4::~Form4() = default;
