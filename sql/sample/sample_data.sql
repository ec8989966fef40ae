-- Sample policy data for a new installation (`quorpolicy init`): a root
-- administrator, two delegated administrators with group, LDAP and wildcard
-- entities, address groups, quarantine areas (one shared "OPP:" area),
-- rules that use them, registered components and a manual rule order.

INSERT INTO entities (entity_id, entity_name, entity_type) VALUES
  (1, 'All users', 0),
  (2, 'Sales', 1),
  (3, 'Engineering', 1),
  (4, 'cn=Support,ou=Groups,dc=example,dc=com', 2),
  (5, '*@example.com', 6),
  (6, '*@*.example.com', 6),
  (7, '*@eng.example.com', 6);

INSERT INTO administrators (admin_id, admin_name, is_root) VALUES
  (1, 'root', 1),
  (2, 'alice', 0),
  (3, 'bob', 0);

-- root manages everything; alice the sales side and the whole domain; bob
-- engineering and its subdomain.
INSERT INTO admin_entities (admin_id, entity_id, position) VALUES
  (1, 1, 0),
  (2, 2, 0), (2, 5, 1), (2, 4, 2),
  (3, 3, 0), (3, 7, 1);

INSERT INTO named_objects (object_id, kind, name, content) VALUES
  (1, 3, 'OPP:Shared quarantine', 'retention_days=30
notify=no
'),
  (2, 3, 'Sales quarantine', 'retention_days=14
notify=yes
'),
  (3, 3, 'Engineering quarantine', 'retention_days=7
notify=yes
'),
  (4, 5, 'VIP senders', '<mas><ma>ceo@partner.example.net</ma><ma>*@board.example.org</ma></mas>'),
  (5, 5, 'Blocked partners', '<mas><ma>*@spam.example.biz</ma></mas>'),
  (6, 5, 'Engineering suppliers', '<mas><ma>orders@supplier.example.de</ma></mas>');

INSERT INTO entity_named_objects (entity_id, object_id, kind) VALUES
  (1, 1, 3),
  (2, 2, 3), (5, 2, 3),
  (3, 3, 3), (7, 3, 3),
  (2, 4, 5), (5, 4, 5),
  (1, 5, 5),
  (3, 6, 5), (7, 6, 5);

INSERT INTO address_group_members (group_id, position, address) VALUES
  (4, 0, 'ceo@partner.example.net'),
  (4, 1, '*@board.example.org'),
  (5, 0, '*@spam.example.biz'),
  (6, 0, 'orders@supplier.example.de');

INSERT INTO filter_groups (filter_id, filter_type, rule_order) VALUES
  (1, 'Virus', 1),
  (4, 'Spam', 2),
  (2, 'Attachment', 3),
  (3, 'Size', 4),
  (5, 'Content', 5),
  (6, 'Other', 6);

INSERT INTO rules (rule_id, rule_name, filter_id, entity_id, action_object_id) VALUES
  (1, 'Quarantine sales spam', 4, 2, 2),
  (2, 'Quarantine engineering viruses', 1, 3, 3),
  (3, 'Reject blocked partners', 6, 1, NULL);

INSERT INTO rule_named_objects (rule_id, object_id) VALUES
  (1, 4),
  (3, 5);

INSERT INTO global_settings (section, setting_key, setting_value) VALUES
  ('email-scan', 'manualRuleOrder', 'on');

INSERT INTO components (scanner_id, kind, name, ip_addr, agent_port) VALUES
  (1, 'P', 'policy-1', '10.0.0.5', 8443),
  (2, 'P', 'policy-2', '10.0.0.6', 8443),
  (3, 'S', 'scanner-1', '10.0.0.10', 9000);
