SELECT filter_id AS FilterID, rule_order AS RuleOrder, filter_type AS FilterType FROM filter_groups ORDER BY rule_order, filter_id
