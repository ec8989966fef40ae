SELECT address AS MemberAddress FROM address_group_members WHERE group_id = %u ORDER BY position
