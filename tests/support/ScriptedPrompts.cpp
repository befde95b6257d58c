#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <QDialog>

QStringList ScriptedPrompts::messages() const {
    QStringList out;
    for (const Shown& s : shown_)
        if (s.kind == QLatin1String("message")) out << s.text;
    return out;
}

void ScriptedPrompts::message(QWidget*, const QString& text, const QString& caption) {
    shown_.push_back({QStringLiteral("message"), text, caption});
}

bool ScriptedPrompts::nextQuestion(const QString& kind, const QString& text,
                                   const QString& caption) {
    shown_.push_back({kind, text, caption});
    if (questions_.empty()) {
        ADD_FAILURE() << "Unexpected question: " << text.toStdString();
        return false;
    }
    const bool answer = questions_.front();
    questions_.pop_front();
    return answer;
}

bool ScriptedPrompts::okCancel(QWidget*, const QString& text, const QString& caption) {
    return nextQuestion(QStringLiteral("okCancel"), text, caption);
}

bool ScriptedPrompts::yesNo(QWidget*, const QString& text, const QString& caption) {
    return nextQuestion(QStringLiteral("yesNo"), text, caption);
}

QString ScriptedPrompts::inputBox(QWidget*, const QString& caption, const QString& prompt,
                                  const QString& defaultText) {
    shown_.push_back({QStringLiteral("inputBox"), prompt, caption});
    if (inputs_.empty()) {
        ADD_FAILURE() << "Unexpected input box: " << prompt.toStdString();
        return defaultText;
    }
    auto [ok, text] = inputs_.front();
    inputs_.pop_front();
    return ok ? text : defaultText;
}

std::optional<QString> ScriptedPrompts::password(QWidget*, const QString& caption,
                                                 const QString& prompt) {
    shown_.push_back({QStringLiteral("password"), prompt, caption});
    if (inputs_.empty()) {
        ADD_FAILURE() << "Unexpected password box: " << prompt.toStdString();
        return std::nullopt;
    }
    auto [ok, text] = inputs_.front();
    inputs_.pop_front();
    if (!ok) return std::nullopt;
    return text;
}

QString ScriptedPrompts::nextFile(const QString& kind, const QString& caption) {
    shown_.push_back({kind, QString(), caption});
    if (files_.empty()) {
        ADD_FAILURE() << "Unexpected file dialog: " << caption.toStdString();
        return {};
    }
    QString path = files_.front();
    files_.pop_front();
    return path;
}

QString ScriptedPrompts::openFileName(QWidget*, const QString& caption, const QString&,
                                      const QString&) {
    return nextFile(QStringLiteral("open"), caption);
}

QString ScriptedPrompts::saveFileName(QWidget*, const QString& caption, const QString&,
                                      const QString&) {
    return nextFile(QStringLiteral("save"), caption);
}

int ScriptedPrompts::exec(QDialog* dialog) {
    if (dialogs_.empty()) {
        ADD_FAILURE() << "Unexpected modal dialog: " << dialog->windowTitle().toStdString();
        return QDialog::Rejected;
    }
    auto driver = std::move(dialogs_.front());
    dialogs_.pop_front();
    dialog->show();
    const int result = driver(dialog);
    dialog->hide();
    return result;
}
