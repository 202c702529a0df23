// Tamdial: assigns COM port names to the attached receipt printers and
// prints a test page through them.
#include <wx/app.h>

#include "config/platform_services.h"
#include "config/single_instance.h"
#include "config/ui/dialogs.h"

namespace {

// Made before the application starts, held until the process ends.
config::SingleInstance gInstance;

}  // namespace

class CTorvaneSerialPortEmulatorApp final : public wxApp {
  public:
    bool OnInit() override {
        config::PlatformDeviceOpener devices;
        config::PlatformPrinterInterfaces printers;
        config::RegistryAssignmentStore assignments;
        config::PlatformProgramRunner programs;
        config::WxMessageSink messages;
        config::ToolServices services{devices, printers, assignments, programs, messages};
        {
            config::CTorvaneSerialPortEmulatorDlg dialog(services, gInstance.AlreadyRunning());
            dialog.ShowModal();
        }
        // The dialog was the application: no message loop follows.
        return false;
    }
};

wxIMPLEMENT_APP(CTorvaneSerialPortEmulatorApp);
