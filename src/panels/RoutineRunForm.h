#pragma once

#include <QDialog>
#include <vector>

#include "admin/RoutineRun.h"

class QCheckBox;
class QLineEdit;

// The values for a routine's IN and INOUT parameters, each with a NULL box: a line per
// parameter, named by its name, mode and type. Its edits are "ArgValue1", "ArgValue2"...
// and the boxes "ArgNull1"..., in the order of the parameters that take a value.
class RoutineRunForm : public QDialog {
    Q_OBJECT
public:
    RoutineRunForm(const QString& title, const std::vector<admin::RoutineParameter>& params,
                   QWidget* parent = nullptr);

    // One value per parameter that takes one; NULL where its box is checked.
    std::vector<admin::ArgumentValue> values() const;

private:
    std::vector<std::pair<QLineEdit*, QCheckBox*>> fields_;
};
