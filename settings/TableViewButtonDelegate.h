#pragma once
// What a button cell reports: its button was clicked.
namespace hvb {

class TableViewButtonDelegate {
public:
    virtual ~TableViewButtonDelegate() = default;
    virtual void openSyncTimeWindow() = 0;
};

}  // namespace hvb
