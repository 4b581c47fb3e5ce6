#pragma once
// A table cell with one text field. The field shows the cell's `text`, or a hint when the
// text is empty; when an edit ends, the cell reports the field's text to its delegate.
#include <memory>

#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace hvb {

class TableViewTextFieldDelegate {
public:
    virtual ~TableViewTextFieldDelegate() = default;
    virtual void textFieldCellDidEndEditing(const QString& text) = 0;
};

class TextFieldCell : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kPlaceholder = "SSID is between 8 ~ 32 characters";

    explicit TextFieldCell(QWidget* parent = nullptr);
    ~TextFieldCell() override;

    const QString& text() const { return text_; }
    void setText(const QString& text);

    // Held strongly.
    const std::shared_ptr<TableViewTextFieldDelegate>& delegate() const { return delegate_; }
    void setDelegate(std::shared_ptr<TableViewTextFieldDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // The cell's field, held weakly; a field given without a parent is placed in the cell.
    QLineEdit* myTextField() const { return myTextField_; }
    void setMyTextField(QLineEdit* field);

    // The end of an edit in `object`: reported to the delegate when it is a text field.
    void controlTextDidEndEditing(QObject* object);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showTextInField();

    QString text_;
    std::shared_ptr<TableViewTextFieldDelegate> delegate_;
    QPointer<QLineEdit> myTextField_;
    QMetaObject::Connection endEditing_;
};

}  // namespace hvb
