#include "fake_desktop.h"

using vornlog::Answer;
using vornlog::Fault;

QString FakeDesktop::chooseFile(const vornlog::FileDialogRequest& request)
{
    calls << QStringLiteral("dialog");
    dialogs << request;
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

Answer FakeDesktop::showMessage(const vornlog::MessageRequest& request)
{
    calls << QStringLiteral("message");
    messages << request;
    if (!messageAnswers.isEmpty()) return messageAnswers.takeFirst();
    return request.buttons == vornlog::MessageRequest::Buttons::YesNo ? Answer::No : Answer::Ok;
}

Fault FakeDesktop::startProgram(const QString& program, const QStringList& arguments, const QString& folder)
{
    calls << QStringLiteral("start");
    started << StartedProgram{program, arguments, folder};
    return realStarter ? realStarter->startProgram(program, arguments, folder) : startResult;
}

void FakeDesktop::waitForProgram()
{
    calls << QStringLiteral("wait");
    if (realStarter) realStarter->waitForProgram();
    if (onWait) onWait();
}

Fault FakeDesktop::showInTextViewer(const QString& file)
{
    calls << QStringLiteral("view");
    viewed << file;
    return viewerResult;
}
