int tarvelo_test_support_anchor = 0;
