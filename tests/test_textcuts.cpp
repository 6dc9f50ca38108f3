#include "sites/textcuts.h"

#include <QTest>

using namespace cuts;

using OptText = std::optional<QString>;
Q_DECLARE_METATYPE(OptText)

class TestTextCuts : public QObject {
    Q_OBJECT
private slots:
    void piece1_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<OptText>("expected");
        QTest::newRow("once: rest of text") << "ab[x]cd"
                                            << "[x]" << OptText("cd");
        QTest::newRow("twice: between") << "a|b|c"
                                        << "|" << OptText("b");
        QTest::newRow("three times: first gap") << "a|b|c|d"
                                                << "|" << OptText("b");
        QTest::newRow("marker at start") << "Mabc"
                                         << "M" << OptText("abc");
        QTest::newRow("marker at end") << "abcM"
                                       << "M" << OptText("");
        QTest::newRow("adjacent markers") << "xMMy"
                                          << "M" << OptText("");
        QTest::newRow("missing marker fails") << "abc"
                                              << "Z" << OptText();
        QTest::newRow("empty text fails") << ""
                                          << "Z" << OptText();
        QTest::newRow("empty marker fails") << "abc"
                                            << "" << OptText();
        QTest::newRow("case-sensitive") << "aXb"
                                        << "x" << OptText();
        QTest::newRow("chinese") << "作者：张三：更多"
                                 << "：" << OptText("张三");
        // Long markers are searched another way: the same answers, in linear time.
        const QString m = QStringLiteral("<div class=\"名字😀\">");
        QTest::newRow("long marker among CJK and emoji") << "前😀" + m + "张三" + m + "后" << m << OptText("张三");
        QTest::newRow("long marker, a near miss first") << m.left(10) + "x" + m + "b" << m << OptText("b");
        QTest::newRow("long run of one character")
            << QString(5000, 'a') + "b" + QString(5000, 'a') << QString(40, 'a') + "b" << OptText(QString(5000, 'a'));
        QTest::newRow("long marker, a lone surrogate in the text")
            << "x" + QString(QChar(0xd800)) + m + "y" << m << OptText("y");
    }
    void piece1()
    {
        QFETCH(QString, text);
        QFETCH(QString, marker);
        QFETCH(OptText, expected);
        QCOMPARE(cuts::piece1(text, marker), expected);
    }

    void cutsAndRests_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("arg");
        QTest::addColumn<OptText>("expected");
        QTest::newRow("cut before stop") << "cut"
                                         << "name<b>"
                                         << "<" << OptText("name");
        QTest::newRow("cut stop at start") << "cut"
                                           << "<b>"
                                           << "<" << OptText("");
        QTest::newRow("cut without stop is empty") << "cut"
                                                   << "name"
                                                   << "<" << OptText("");
        QTest::newRow("cut of empty") << "cut"
                                      << ""
                                      << "<" << OptText("");
        QTest::newRow("rest keeps marker") << "rest"
                                           << "a:b:c"
                                           << ":" << OptText(":b:c");
        QTest::newRow("rest fails without marker") << "rest"
                                                   << "abc"
                                                   << ":" << OptText();
        QTest::newRow("upto keeps first char") << "upto"
                                               << "src=x title=y"
                                               << "e=" << OptText("src=x title");
        QTest::newRow("upto without marker empty") << "upto"
                                                   << "abc"
                                                   << "e=" << OptText("");
        QTest::newRow("upto at start") << "upto"
                                       << "e=1"
                                       << "e=" << OptText("e");
        QTest::newRow("trim spaces only") << "trim"
                                          << "  \ta b\n  "
                                          << "" << OptText("\ta b\n");
        QTest::newRow("trim all spaces") << "trim"
                                         << "    "
                                         << "" << OptText("");
        QTest::newRow("remove every occurrence") << "remove"
                                                 << "abXXcdXX"
                                                 << "XX" << OptText("abcd");
        QTest::newRow("remove is case-sensitive") << "remove"
                                                  << "abxxX"
                                                  << "X" << OptText("abxx");
    }
    void cutsAndRests()
    {
        QFETCH(QString, op);
        QFETCH(QString, text);
        QFETCH(QString, arg);
        QFETCH(OptText, expected);
        OptText actual;
        if (op == "cut")
            actual = cutAt(text, arg);
        else if (op == "rest")
            actual = restFrom(text, arg);
        else if (op == "upto")
            actual = upToPosition(text, arg);
        else if (op == "trim")
            actual = trimmedSpaces(text);
        else
            actual = removeAll(text, arg);
        QCOMPARE(actual, expected);
    }

    void displayCut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("expected");
        const QString eight = QStringLiteral("一二三四五六七八");
        QTest::newRow("exactly 8") << eight << 8 << eight;
        QTest::newRow("9 shows 8 and dots") << eight + "九" << 8 << eight + "..";
        QTest::newRow("20 whole") << QString(20, 'a') << 20 << QString(20, 'a');
        QTest::newRow("21 cut") << QString(21, 'a') << 20 << QString(20, 'a') + "..";
        QTest::newRow("empty") << QString() << 8 << QString();
        // "😀" is a surrogate pair: a cut at 8 units would split the one at units 8-9.
        const QString emoji = QString::fromUtf8("😀");
        QTest::newRow("pair at the cut moves before it")
            << QString(7, 'a') + emoji + "b" << 8 << QString(7, 'a') + "..";
        QTest::newRow("pair before the cut stays")
            << QString(6, 'a') + emoji + "bc" << 8 << QString(6, 'a') + emoji + "..";
    }
    void displayCut()
    {
        QFETCH(QString, text);
        QFETCH(int, limit);
        QFETCH(QString, expected);
        QCOMPARE(cuts::displayCut(text, limit), expected);
    }
};

QTEST_APPLESS_MAIN(TestTextCuts)
#include "test_textcuts.moc"
