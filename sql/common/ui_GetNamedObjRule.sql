SELECT rule_id AS RuleID FROM rules WHERE action_object_id = %u
UNION
SELECT rule_id AS RuleID FROM rule_named_objects WHERE object_id = %u
