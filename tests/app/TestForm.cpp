// SPDX-License-Identifier: MIT
#include "TestForm.h"

#include "net/Wsk.h"

std::unique_ptr<frmMain> makeTestForm(quint16 port)
{
    auto form = std::make_unique<frmMain>();
    form->session().setDefaultPort(port);
    form->setEndProgram([] {});
    form->Form_Load();
    form->show();
    return form;
}
