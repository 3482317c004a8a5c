#pragma once
// QTRY_* report their failures to QTestLib, which these gtest cases do not
// run under, and then leave the test silently; so wait with qWaitFor and let
// gtest judge the outcome.

#include <QTest>

#include <gtest/gtest.h>

#define WAIT_FOR(condition) \
    ASSERT_TRUE(QTest::qWaitFor([&]() { return bool(condition); }, 5000)) << "waited for " #condition

#define WAIT_FOR_MS(condition, ms) \
    ASSERT_TRUE(QTest::qWaitFor([&]() { return bool(condition); }, ms)) << "waited for " #condition
