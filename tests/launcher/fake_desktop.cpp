#include "fake_desktop.h"

using vornlog::Answer;
using vornlog::Fault;

std::string FakeDesktop::chooseFile(const vornlog::FileDialogRequest& request)
{
    calls.push_back("dialog");
    dialogs.push_back(request);
    if (fileAnswers.empty()) return {};
    std::string answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

Answer FakeDesktop::showMessage(const vornlog::MessageRequest& request)
{
    calls.push_back("message");
    messages.push_back(request);
    if (!messageAnswers.empty()) {
        const Answer answer = messageAnswers.front();
        messageAnswers.pop_front();
        return answer;
    }
    return request.buttons == vornlog::MessageRequest::Buttons::YesNo ? Answer::No : Answer::Ok;
}

Fault FakeDesktop::startProgram(const std::string& program, const std::vector<std::string>& arguments,
                                const std::string& folder)
{
    calls.push_back("start");
    started.push_back({program, arguments, folder});
    return realStarter ? realStarter->startProgram(program, arguments, folder) : startResult;
}

vornlog::ProgramEnd FakeDesktop::waitForProgram()
{
    calls.push_back("wait");
    const vornlog::ProgramEnd end = realStarter ? realStarter->waitForProgram() : programEnd;
    if (onWait) onWait();
    return end;
}

void FakeDesktop::stopProgram()
{
    calls.push_back("stop");
    if (realStarter) realStarter->stopProgram();
}

Fault FakeDesktop::showInTextViewer(const std::string& file)
{
    calls.push_back("view");
    viewed.push_back(file);
    return viewerResult;
}
